// The sending end of a channel link: a message sink that sends each message delivered to it over
// a connected loopback socket as frames, one per chunk of the message. Several threads may
// deliver at once: the frames of one message go out together, under one lock, so they never
// interleave with another message's.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "SimLock.h"
#include "SimMessageSink.h"
#include "SimSocket.h"

namespace sim {

class SimLinkSender : public SimMessageSink {
 public:
  // `sendWaitMs`: how long a send may wait for a full connection before the link counts as failed.
  explicit SimLinkSender(UniqueSocket socket, DWORD sendWaitMs = INFINITE);
  SimLinkSender(const SimLinkSender&) = delete;
  SimLinkSender& operator=(const SimLinkSender&) = delete;

  void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) override;
  void DeliverWritten(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message) override {
    Send(sessionId, channelName, message);
  }
  // Deliver without taking the message over; false when it was dropped.
  bool Send(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message);

  // Messages not sent: on a channel of an unknown name, or after a send failed. A failed send
  // shuts the sending side down, so the peer sees the frame cut short, and nothing more is sent.
  size_t DroppedMessages();

 private:
  CriticalSection lock_;
  UniqueSocket socket_;
  DWORD sendWaitMs_;
  bool failed_ = false;
  size_t dropped_ = 0;
};

}  // namespace sim
