// The channel links of the client computers. A client connects to the link port and first sends
// its hello (E2eLinkSocket.h: its session id and link profile); the connection then becomes the
// session's client: what the server writes in the session goes out on it as frames, shaped by
// the client's profile like the client's own direction, and each chunk that comes in is queued
// for the server's reads. When the connection ends, the session has no client.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SimLinkReceiver.h"
#include "SimLinkSender.h"
#include "SimLinkShape.h"
#include "SimLock.h"
#include "SimMessageSink.h"
#include "SimSocket.h"

namespace sim::host {

// Sends the messages delivered to it over the link. It has a handle of its own on the connection,
// shared with the receiver's reads, which make the connection non-blocking: a send that finds the
// connection's buffer full waits until it drains, for a while.
class HostLinkSink : public SimMessageSink {
 public:
  HostLinkSink(UniqueSocket socket, SimLinkShape shape);

  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override;
  void DeliverWritten(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message) override;
  // Closes the connection's handle; later messages are dropped.
  void Close();
  // The bytes sent on the link so far, frame headers included; 0 once closed.
  uint64_t SentBytes();

 private:
  CriticalSection lock_;
  std::unique_ptr<SimLinkSender> sender_;
};

// A session's link: its profile and the bytes each way so far, as the link counts them (frame
// headers included).
struct HostLinkFigures {
  std::string profile;  // empty: unshaped
  SimLinkShape shape;
  uint64_t toClient = 0;
  uint64_t fromClient = 0;
};

class HostLinks {
 public:
  // Reads the new connection's hello (waiting a few seconds at most) and makes the connection
  // that session's client, in place of an earlier one; drops it without a valid hello.
  void Accept(UniqueSocket connection);
  // Sessions whose connection ended are left without a client.
  void RetireEnded();
  bool HasClient(DWORD sessionId);
  // The sessions that have a client, in ascending order.
  std::vector<DWORD> Clients();
  // nullopt if the session has no client.
  std::optional<HostLinkFigures> Figures(DWORD sessionId);

 private:
  struct Link {
    std::string profile;
    SimLinkShape shape;
    std::unique_ptr<HostLinkSink> sink;
    std::unique_ptr<SimLinkReceiver> receiver;
  };
  void Retire(DWORD sessionId);  // with lock_ held

  CriticalSection lock_;
  std::map<DWORD, Link> links_;
  // SimVirtualChannels hands a message to a client outside its lock, so a write may still be
  // using a sink after the session lost it: retired sinks stay (closed) for the process's life.
  std::vector<std::unique_ptr<HostLinkSink>> retiredSinks_;
};

}  // namespace sim::host
