// The largest message of each code that the client add-in accepts from the server, checked at the
// chunk that starts a message, before anything is allocated for it.
#pragma once

#include <cstdint>
#include <span>

namespace quil {

// A font data message is bounded by the job's font budget, a compressed one by the font data
// message it holds (it travels only where it is the smaller); the other messages keep the
// original bound of a chunk's total. A message whose first chunk is too short to hold its code
// must be whole in that chunk.
uint32_t ServerMessageBound(std::span<const uint8_t> start);

}  // namespace quil
