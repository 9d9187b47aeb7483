#include "ChannelChunk.h"

#include "MessageReader.h"

namespace quil {

std::optional<ChannelChunk> ParseChannelChunk(std::span<const uint8_t> bytesRead) {
  using Layout = ChannelChunkLayout;
  if (bytesRead.size() > Layout::kMaxChunkSize) return std::nullopt;
  const CQuilMessageReader reader(bytesRead);
  const auto totalLength = reader.U32(Layout::kTotalLength);
  const auto flags = reader.U32(Layout::kFlags);
  if (!totalLength || !flags) return std::nullopt;
  return ChannelChunk{*totalLength, *flags, bytesRead.subspan(Layout::kHeaderSize)};
}

}  // namespace quil
