// How one direction of a channel link is shaped: the rate at which its frames are serialized and
// the one-way delay after which each frame reaches the peer, applied in user space by the sender
// (SimLinkShaper). The rate applies to the frames as they go on the connection, each a 20-byte
// header with one chunk's data: the bytes a link counts are those the peer receives.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace sim {

struct SimLinkShape {
  uint64_t bytesPerSecond = 0;  // 0: unshaped, the frames go out at once and the delay is unused
  DWORD delayMs = 0;

  bool Shaped() const { return bytesPerSecond != 0; }
  bool operator==(const SimLinkShape&) const = default;
};

// The link profiles by name, the same in each direction:
//   "wan"         2 Mbit/s, 40 ms each way (a branch office or a home connection)
//   "lan"         100 Mbit/s, 1 ms each way
//   "" or "none"  unshaped
// nullopt for any other name.
std::optional<SimLinkShape> LinkProfile(std::string_view name);

}  // namespace sim
