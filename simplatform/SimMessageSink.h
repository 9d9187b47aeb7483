// Where the simulated platform hands over whole messages that one side of a static virtual
// channel wrote. The carrier in between splits each message into the platform's chunks and joins
// them again, so a sink only ever sees complete messages. The server end of the simulated
// channels delivers what the server writes to the client's sink, and the simulated remote-desktop
// client delivers what its add-in writes to the server's sink; an end-to-end run connects the two.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sim {

class SimMessageSink {
 public:
  virtual ~SimMessageSink() = default;
  // A message written on `channelName` ("QPrn", "QSpl") in the given session.
  virtual void Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) = 0;
  // The same, for a message that stays the writer's: a sink that passes it on at once need not
  // copy it first.
  virtual void DeliverWritten(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message) {
    Deliver(sessionId, channelName, std::vector<uint8_t>(message.begin(), message.end()));
  }
};

}  // namespace sim
