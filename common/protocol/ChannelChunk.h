// One chunk as a server-side read of a static virtual channel returns it: the platform's 8-byte
// header (total length of the whole message, flags), then at most 1600 bytes of message data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quil {

struct ChannelChunkLayout {
  static constexpr std::size_t kTotalLength = 0;
  static constexpr std::size_t kFlags = 4;
  static constexpr std::size_t kHeaderSize = 8;
  static constexpr std::size_t kMaxDataSize = 1600;
  static constexpr std::size_t kMaxChunkSize = kHeaderSize + kMaxDataSize;
};
static_assert(ChannelChunkLayout::kTotalLength + 4 == ChannelChunkLayout::kFlags);
static_assert(ChannelChunkLayout::kFlags + 4 == ChannelChunkLayout::kHeaderSize);
static_assert(ChannelChunkLayout::kMaxChunkSize == 1608);

// The largest message the server accepts: the client only ever answers with a count, a printer
// record or an acknowledgement, so a larger announcement is refused rather than allocated.
inline constexpr uint32_t kMaxReplySize = 64 * 1024;

struct ChannelChunk {
  uint32_t totalLength = 0;
  uint32_t flags = 0;
  std::span<const uint8_t> data;  // a view into the bytes read
};

// nullopt for a read shorter than the header or longer than a chunk can be.
std::optional<ChannelChunk> ParseChannelChunk(std::span<const uint8_t> bytesRead);

}  // namespace quil
