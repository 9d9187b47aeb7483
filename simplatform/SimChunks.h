// How the platform carries one message over a static virtual channel: in chunks of at most 1600
// bytes, the first flagged FIRST and the last LAST (a one-chunk message carries both). Both ends
// of the simulated channels split messages this way.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

inline constexpr size_t kChunkDataSize = 1600;
inline constexpr uint32_t kChunkFirst = 0x1;
inline constexpr uint32_t kChunkLast = 0x2;

struct SimChunk {
  std::span<const uint8_t> data;  // a view into the message
  uint32_t flags;
};

// An empty message still travels as one empty chunk flagged FIRST and LAST.
inline std::vector<SimChunk> SplitIntoChunks(std::span<const uint8_t> message) {
  std::vector<SimChunk> chunks;
  size_t start = 0;
  do {
    const size_t length = std::min(kChunkDataSize, message.size() - start);
    const uint32_t flags = (start == 0 ? kChunkFirst : 0) | (start + length == message.size() ? kChunkLast : 0);
    chunks.push_back({message.subspan(start, length), flags});
    start += length;
  } while (start < message.size());
  return chunks;
}

}  // namespace sim
