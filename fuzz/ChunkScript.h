// The assembler fuzzer's input: a start-rule byte, then chunks, each written as flags (1 byte),
// the announced total (2 bytes, little-endian), the data length (2 bytes) and the data. Totals
// stay below 64 KiB so that no run allocates more than the input could ever fill.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quil::fuzz {

struct ScriptChunk {
  uint32_t flags;
  uint32_t totalLength;
  std::span<const uint8_t> data;
};

inline constexpr std::size_t kChunkHeadSize = 5;

// Takes the next chunk off the front of the script; a length beyond its end is cut to fit.
inline std::optional<ScriptChunk> NextChunk(std::span<const uint8_t>& script) {
  if (script.size() < kChunkHeadSize) return std::nullopt;
  const uint32_t flags = script[0];
  const uint32_t total = script[1] | script[2] << 8;
  const std::size_t length = std::min<std::size_t>(script[3] | script[4] << 8,
                                                   script.size() - kChunkHeadSize);
  const ScriptChunk chunk{flags, total, script.subspan(kChunkHeadSize, length)};
  script = script.subspan(kChunkHeadSize + length);
  return chunk;
}

inline void AppendChunk(std::vector<uint8_t>& script, uint8_t flags, uint16_t total,
                        std::span<const uint8_t> data) {
  const auto length = static_cast<uint16_t>(data.size());
  const uint8_t head[kChunkHeadSize] = {flags, static_cast<uint8_t>(total),
                                        static_cast<uint8_t>(total >> 8),
                                        static_cast<uint8_t>(length),
                                        static_cast<uint8_t>(length >> 8)};
  script.insert(script.end(), head, head + kChunkHeadSize);
  script.insert(script.end(), data.begin(), data.end());
}

}  // namespace quil::fuzz
