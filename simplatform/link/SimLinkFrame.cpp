#include "SimLinkFrame.h"

#include <algorithm>

namespace sim {
namespace {

constexpr SimLinkChannelName kKnownChannels[] = {{'Q', 'P', 'r', 'n'}, {'Q', 'S', 'p', 'l'}};

void PutU32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> 8 * i);
}

uint32_t GetU32(const uint8_t* at) {
  return at[0] | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

bool IsKnown(const SimLinkChannelName& name) {
  return std::find(std::begin(kKnownChannels), std::end(kKnownChannels), name) != std::end(kKnownChannels);
}

}  // namespace

const char* SimLinkEndName(SimLinkEnd end) {
  switch (end) {
    case SimLinkEnd::kRunning: return "running";
    case SimLinkEnd::kClosed: return "closed";
    case SimLinkEnd::kTruncatedFrame: return "truncated frame";
    case SimLinkEnd::kOversizedChunk: return "oversized chunk";
    case SimLinkEnd::kUnknownChannel: return "unknown channel";
    case SimLinkEnd::kUnknownFlags: return "unknown flags";
    case SimLinkEnd::kDataBeyondTotal: return "data beyond total";
    case SimLinkEnd::kFailed: return "failed";
    case SimLinkEnd::kStopped: return "stopped";
  }
  return "?";
}

std::array<uint8_t, SimLinkFrameLayout::kHeaderSize> EncodeFrameHeader(const SimLinkFrameHeader& header) {
  using L = SimLinkFrameLayout;
  std::array<uint8_t, L::kHeaderSize> bytes{};
  PutU32(&bytes[L::kSessionId], header.sessionId);
  std::copy(header.channelName.begin(), header.channelName.end(), &bytes[L::kChannelName]);
  PutU32(&bytes[L::kTotalLength], header.totalLength);
  PutU32(&bytes[L::kFlags], header.flags);
  PutU32(&bytes[L::kDataLength], header.dataLength);
  return bytes;
}

SimLinkFrameHeader DecodeFrameHeader(std::span<const uint8_t, SimLinkFrameLayout::kHeaderSize> bytes) {
  using L = SimLinkFrameLayout;
  SimLinkFrameHeader header;
  header.sessionId = GetU32(&bytes[L::kSessionId]);
  std::copy_n(&bytes[L::kChannelName], L::kChannelNameSize, header.channelName.begin());
  header.totalLength = GetU32(&bytes[L::kTotalLength]);
  header.flags = GetU32(&bytes[L::kFlags]);
  header.dataLength = GetU32(&bytes[L::kDataLength]);
  return header;
}

std::optional<SimLinkEnd> FindHeaderFault(const SimLinkFrameHeader& header) {
  if (!IsKnown(header.channelName)) return SimLinkEnd::kUnknownChannel;
  if ((header.flags & ~(kChunkFirst | kChunkLast)) != 0) return SimLinkEnd::kUnknownFlags;
  if (header.dataLength > SimLinkFrameLayout::kMaxDataSize) return SimLinkEnd::kOversizedChunk;
  if (header.dataLength > header.totalLength) return SimLinkEnd::kDataBeyondTotal;
  return std::nullopt;
}

std::optional<SimLinkChannelName> KnownChannelName(const std::string& name) {
  SimLinkChannelName frameName{};
  if (name.size() != frameName.size()) return std::nullopt;
  std::copy(name.begin(), name.end(), frameName.begin());
  if (!IsKnown(frameName)) return std::nullopt;
  return frameName;
}

}  // namespace sim
