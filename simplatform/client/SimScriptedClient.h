// A scripted client end of the printer-list channel, as the simulated channels' client: answers
// the server's requests from a fixed printer list, or with prepared raw replies, or not at all.
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "SimLock.h"
#include "SimMessageSink.h"

namespace sim {

struct SimScriptedPrinter {
  std::u16string name;
  bool isDefault = false;
};

class SimScriptedClient : public SimMessageSink {
 public:
  explicit SimScriptedClient(std::vector<SimScriptedPrinter> printers = {}) : printers_(std::move(printers)) {}

  // Never answers anything.
  void StayQuiet();
  // Answers the count request with these bytes instead of a well-formed reply.
  void ReplyToCountWith(std::vector<uint8_t> reply);
  // Answers the request for this index with these bytes.
  void ReplyToPrinterWith(uint32_t index, std::vector<uint8_t> reply);
  // Answers the request for this index with raw chunks (total length, flags, data) as given.
  struct RawChunk {
    uint32_t totalLength;
    uint32_t flags;
    std::vector<uint8_t> data;
  };
  void ReplyToPrinterWithChunks(uint32_t index, std::vector<RawChunk> chunks);

  size_t CountRequests();
  std::vector<uint32_t> PrinterRequests();

  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override;

 private:
  void Answer(DWORD sessionId, const std::string& channelName, const std::vector<uint8_t>& message);

  CriticalSection lock_;
  std::vector<SimScriptedPrinter> printers_;
  bool quiet_ = false;
  std::optional<std::vector<uint8_t>> countReply_;
  std::map<uint32_t, std::vector<uint8_t>> printerReplies_;
  std::map<uint32_t, std::vector<RawChunk>> printerChunks_;
  size_t countRequests_ = 0;
  std::vector<uint32_t> printerRequests_;
};

}  // namespace sim
