// A scripted client end of the spool channel "QSpl": acknowledges as the original protocol
// describes (4 bytes for the job start and end, 12 for a page, no answer to any other code), or,
// once told to announce capabilities, as a client of the extension does (lacking every font but
// the faces it is told it has); or stays silent, or
// fails at a chosen message by sending a chunk the server must refuse, or holds its answer to a
// message until released.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SimLock.h"
#include "SimMessageSink.h"
#include "UniqueHandle.h"

namespace quil::test {

// One message the client received, in order.
struct ReceivedMessage {
  DWORD sessionId = 0;
  uint32_t code = 0xFFFFFFFF;
  size_t size = 0;
  uint32_t checksum = 0;         // of the whole message
  std::vector<uint8_t> bytes;    // the whole message, unless the client keeps no bytes
  bool previousAnswerRead = true;  // the server had read every earlier answer when this arrived
};

class ScriptedSpoolClient : public sim::SimMessageSink {
 public:
  // Answers job starts with the extended acknowledgement carrying these capabilities, and the
  // page settings and compressed pages that they admit.
  void Announce(uint32_t capabilities);
  // The faces this client has; a font query gets 1 (lacks) for every other face.
  void HaveFaces(std::vector<std::u16string> faces);
  // Never answers anything.
  void StayQuiet();
  // Answers the message with this 0-based index (counted over all messages) with a chunk that
  // announces 0 bytes, which makes the server's read fail; later messages are acknowledged.
  void FailAt(size_t index);
  // Holds the answer to the message with this index, and to every later one, until Release()
  // is called, which gives them in order: a client answers its messages in the order they came.
  void HoldAt(size_t index);
  void Release();
  // Keeps only the size and checksum of each message (for long jobs).
  void KeepNoBytes();

  std::vector<ReceivedMessage> Received();
  size_t ReceivedCount();
  // Signalled whenever a message arrives.
  HANDLE MessageArrived() const { return arrived_.get(); }

  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override;

  static uint32_t Checksum(const std::vector<uint8_t>& bytes);

 private:
  struct Held {
    DWORD sessionId;
    uint32_t code;
    std::vector<uint8_t> answer;  // prepared when the message arrived; empty: none
  };
  // The answer the message gets from this client, given what it announced; empty for none.
  std::vector<uint8_t> AnswerTo(uint32_t code, std::span<const uint8_t> message);
  void Answer(DWORD sessionId, const std::vector<uint8_t>& answer, bool fail);

  sim::CriticalSection lock_;
  UniqueHandle arrived_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  bool quiet_ = false;
  std::optional<uint32_t> capabilities_;  // none: the original protocol
  std::vector<std::u16string> faces_;
  bool keepBytes_ = true;
  std::optional<size_t> failAt_;
  std::optional<size_t> holdAt_;
  std::vector<Held> held_;
  std::vector<ReceivedMessage> received_;
};

}  // namespace quil::test
