// The messages of one job in flight on the spool channel. For a client that announced the window,
// the next messages go out while earlier ones wait for their acknowledgements, as long as the
// bytes not yet acknowledged stay within a bound; the answers come back in the order of the
// messages, and each must carry its message's code. For any other client every message waits for
// its answer before the next goes out, and any answer counts, as the original protocol has it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "CQuilServerVirtChannel.h"

namespace quil {

class CQuilSendWindow {
 public:
  // The bytes a job may have in flight: enough to fill a link of 100 Mbit/s with a round trip of
  // 80 ms, while the client's queue of received messages stays small beside its largest page.
  static constexpr std::size_t kWindowBytes = 1024 * 1024;

  // `windowed`: whether the client announced the window.
  CQuilSendWindow(CQuilServerVirtChannel& channel, bool windowed) : channel_(channel), windowed_(windowed) {}

  // Sends the message once it fits in the window (a message larger than the window goes out
  // alone), reading the answers that make room. False when a write or read failed or an answer
  // did not acknowledge the message it stood for: the job is over.
  bool Send(std::span<const uint8_t> message);
  // Sends the message once every earlier one is acknowledged, and waits for its own answer.
  bool Exchange(std::span<const uint8_t> message, std::vector<uint8_t>& answer);
  // Waits until every message sent is acknowledged.
  bool Drain();

 private:
  struct InFlight {
    uint32_t code;
    std::size_t size;
  };
  bool Write(std::span<const uint8_t> message);
  // Reads the answer of the oldest message in flight.
  bool AcknowledgeOldest(std::vector<uint8_t>& answer);

  CQuilServerVirtChannel& channel_;
  const bool windowed_;
  std::deque<InFlight> inFlight_;
  std::size_t inFlightBytes_ = 0;
};

}  // namespace quil
