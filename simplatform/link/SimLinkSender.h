// The sending end of a channel link: a message sink that sends each message delivered to it over
// a connected loopback socket as frames, one per chunk of the message. Several threads may
// deliver at once: the frames of one message go out together, under one lock, so they never
// interleave with another message's.
//
// Unshaped (the default), the frames go to the socket at once. Shaped, a SimLinkShaper takes
// them and writes them out at the shape's rate and delay on a thread of its own, and a delivery
// returns once the shaper's send buffer holds the message's last frame.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "SimChunks.h"
#include "SimLinkFrame.h"
#include "SimLinkShape.h"
#include "SimLinkShaper.h"
#include "SimLock.h"
#include "SimMessageSink.h"
#include "SimSocket.h"

namespace sim {

class SimLinkSender : public SimMessageSink {
 public:
  // `sendWaitMs`: how long a send may wait for a full connection before the link counts as failed.
  explicit SimLinkSender(UniqueSocket socket, SimLinkShape shape = {}, DWORD sendWaitMs = INFINITE);
  // Shaped, the frames already taken still go out, each at its time.
  ~SimLinkSender() override = default;
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
  // The bytes of the frames written to the socket so far, headers included.
  uint64_t SentBytes();

 private:
  // The message's frames: its header fields but the chunk's flags and length, and its chunks.
  struct Frames {
    SimLinkFrameHeader header;
    std::vector<SimChunk> chunks;
  };
  bool SendAtOnce(const Frames& frames);
  bool SendShaped(const Frames& frames);

  CriticalSection lock_;  // held for a whole message; guards what follows
  UniqueSocket socket_;
  DWORD sendWaitMs_;
  bool failed_ = false;
  size_t dropped_ = 0;
  CriticalSection countLock_;  // guards sentBytes_, which a send under way updates
  uint64_t sentBytes_ = 0;     // unshaped; shaped, the shaper counts
  std::unique_ptr<SimLinkShaper> shaper_;  // last: its thread writes to socket_
};

}  // namespace sim
