// The loopback channel link of the forwarding figures, as the end-to-end run joins a server and a
// client computer: one TCP connection carrying frames both ways, each end with one socket handle
// for sending and one for its receiving thread, and both directions unshaped or shaped alike by a
// link profile (SimLinkShape.h). On it: the acknowledging client end of "QSpl", the server end
// that feeds the simulated channels, and the plain sender of the baseline.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SimLinkShape.h"
#include "SimLock.h"
#include "SimSocket.h"
#include "UniqueHandle.h"

namespace quil::bench {

inline constexpr char kSpoolChannel[] = "QSpl";

struct LinkEnds {
  sim::UniqueSocket serverSend;
  sim::UniqueSocket serverReceive;
  sim::UniqueSocket clientSend;
  sim::UniqueSocket clientReceive;
  sim::SimLinkShape shape;  // each end's sender shapes its direction so
};
// A fresh connection on 127.0.0.1, shaped as given (for example *sim::LinkProfile("wan")), by
// default not at all; nullopt if any socket call failed.
std::optional<LinkEnds> ConnectLink(sim::SimLinkShape shape = {});

// The client end of "QSpl": acknowledges each whole message as the add-in does (4 bytes for the
// job start and end, 12 for a page) as soon as its last chunk is in. It keeps only counts, so
// that it costs the same whoever sends to it and holds no page in memory.
class AckingSpoolClient {
 public:
  struct Counts {
    size_t messages = 0;
    size_t pages = 0;
    uint64_t bytes = 0;
    size_t faults = 0;  // chunks out of order or messages of another size than announced
  };

  AckingSpoolClient(sim::UniqueSocket send, sim::UniqueSocket receive, DWORD sessionId,
                    sim::SimLinkShape shape = {});
  AckingSpoolClient(const AckingSpoolClient&) = delete;
  AckingSpoolClient& operator=(const AckingSpoolClient&) = delete;

  Counts Received();

 private:
  void OnChunk(const std::string& channelName, uint32_t totalLength, uint32_t flags, std::span<const uint8_t> data);

  DWORD sessionId_;
  sim::SimLinkSender toServer_;
  sim::CriticalSection lock_;  // guards what follows; the chunks arrive on the receiver's thread
  Counts counts_;
  bool inMessage_ = false;
  uint32_t code_ = 0;
  uint64_t messageBytes_ = 0;
  sim::SimLinkReceiver fromServer_;  // last: its thread starts once the rest is set up
};

// The client end of "QSpl" without a link, as the simulated channels' own client: counts each
// message the server writes and queues its acknowledgement for the server's next read at once.
// With capabilities, its job-start acknowledgement announces them (SpoolExtension.h) and it
// acknowledges the extension's messages too; without, it speaks the original protocol.
class DirectAckingClient : public sim::SimMessageSink {
 public:
  explicit DirectAckingClient(uint32_t capabilities = 0) : capabilities_(capabilities) {}
  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override;
  AckingSpoolClient::Counts Received();

 private:
  const uint32_t capabilities_;
  sim::CriticalSection lock_;
  AckingSpoolClient::Counts counts_;
};

// The server end of the link as the server host has it: what the server writes in the session
// goes out as frames, and each chunk that comes in is queued for the server's reads on the
// simulated channels. It is the session's client for its life. Holding a client that announces
// the extension to the original protocol, it passes the client's job-start acknowledgement on as
// the original one, so that the server sends only original messages.
class ServerLinkEnd {
 public:
  enum class Protocol { kAsAnnounced, kOriginal };

  ServerLinkEnd(sim::UniqueSocket send, sim::UniqueSocket receive, DWORD sessionId, sim::SimLinkShape shape = {},
                Protocol protocol = Protocol::kAsAnnounced);
  ~ServerLinkEnd();
  ServerLinkEnd(const ServerLinkEnd&) = delete;
  ServerLinkEnd& operator=(const ServerLinkEnd&) = delete;

  // The bytes the server has sent on the link so far, frame headers included.
  uint64_t SentBytes() { return toClient_.SentBytes(); }

 private:
  DWORD sessionId_;
  sim::SimLinkSender toClient_;
  sim::SimLinkReceiver fromClient_;
};

// The baseline: sends messages already built over the link as the server end does (the same
// chunks, frames and sends), and waits for each acknowledgement.
class PlainSender {
 public:
  PlainSender(sim::UniqueSocket send, sim::UniqueSocket receive, DWORD sessionId, sim::SimLinkShape shape = {});
  PlainSender(const PlainSender&) = delete;
  PlainSender& operator=(const PlainSender&) = delete;

  // Sends the message and waits for its acknowledgement; false if either failed.
  bool Exchange(std::span<const uint8_t> message);

 private:
  DWORD sessionId_;
  sim::SimLinkSender toClient_;
  UniqueHandle acknowledged_;
  sim::SimLinkReceiver acknowledgements_;  // last: its thread starts once the rest is set up
};

}  // namespace quil::bench
