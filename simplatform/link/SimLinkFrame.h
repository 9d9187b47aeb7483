// One frame of a channel link: a fixed header, then the data of one chunk of a static
// virtual-channel message as the platform carries it (at most 1600 bytes, FIRST/LAST flags, the
// total length of the whole message). Header fields are little-endian 32-bit values.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "SimChunks.h"

namespace sim {

struct SimLinkFrameLayout {
  static constexpr std::size_t kSessionId = 0;
  static constexpr std::size_t kChannelName = 4;  // four characters, no terminator
  static constexpr std::size_t kChannelNameSize = 4;
  static constexpr std::size_t kTotalLength = 8;  // of the whole message
  static constexpr std::size_t kFlags = 12;       // kChunkFirst, kChunkLast
  static constexpr std::size_t kDataLength = 16;  // of this chunk, at most kMaxDataSize
  static constexpr std::size_t kHeaderSize = 20;
  static constexpr std::size_t kMaxDataSize = kChunkDataSize;
};
static_assert(SimLinkFrameLayout::kSessionId + 4 == SimLinkFrameLayout::kChannelName);
static_assert(SimLinkFrameLayout::kChannelName + SimLinkFrameLayout::kChannelNameSize ==
              SimLinkFrameLayout::kTotalLength);
static_assert(SimLinkFrameLayout::kTotalLength + 4 == SimLinkFrameLayout::kFlags);
static_assert(SimLinkFrameLayout::kFlags + 4 == SimLinkFrameLayout::kDataLength);
static_assert(SimLinkFrameLayout::kDataLength + 4 == SimLinkFrameLayout::kHeaderSize);
static_assert(SimLinkFrameLayout::kMaxDataSize == 1600);

using SimLinkChannelName = std::array<char, SimLinkFrameLayout::kChannelNameSize>;

struct SimLinkFrameHeader {
  uint32_t sessionId = 0;
  SimLinkChannelName channelName{};
  uint32_t totalLength = 0;
  uint32_t flags = 0;
  uint32_t dataLength = 0;
};

// How a link ended.
enum class SimLinkEnd {
  kRunning,          // it has not ended
  kClosed,           // the connection closed between frames
  kTruncatedFrame,   // the connection closed inside a frame
  kOversizedChunk,   // a frame announced more than 1600 data bytes
  kUnknownChannel,   // a frame named a channel other than "QPrn" and "QSpl"
  kUnknownFlags,     // a frame carried flags other than FIRST and LAST
  kDataBeyondTotal,  // a frame carried more data than its message's total length
  kFailed,           // a socket call failed, or the receiving thread could not start
  kStopped,          // its owner stopped it
};
const char* SimLinkEndName(SimLinkEnd end);
// How test output shows a link end.
inline void PrintTo(SimLinkEnd end, std::ostream* out) { *out << SimLinkEndName(end); }

std::array<uint8_t, SimLinkFrameLayout::kHeaderSize> EncodeFrameHeader(const SimLinkFrameHeader& header);
SimLinkFrameHeader DecodeFrameHeader(std::span<const uint8_t, SimLinkFrameLayout::kHeaderSize> bytes);
// The first field out of bounds; nullopt when every field is within them.
std::optional<SimLinkEnd> FindHeaderFault(const SimLinkFrameHeader& header);
// The frame's form of one of the channels' names ("QPrn", "QSpl"); nullopt for any other name.
std::optional<SimLinkChannelName> KnownChannelName(const std::string& name);

}  // namespace sim
