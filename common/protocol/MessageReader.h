// Bounds-checked little-endian reads from a received message.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quil {

// Every read names an absolute position in the message and yields nullopt unless the whole item
// lies inside it. Positions are 64-bit so that a fixed part plus any 32-bit offset taken from
// the wire cannot wrap around, even where size_t is 32 bits wide.
class CQuilMessageReader {
 public:
  explicit CQuilMessageReader(std::span<const uint8_t> message) : message_(message) {}

  std::optional<uint16_t> U16(uint64_t position) const;
  std::optional<uint32_t> U32(uint64_t position) const;
  // A view of `count` bytes at `position`, without copying.
  std::optional<std::span<const uint8_t>> Bytes(uint64_t position, uint64_t count) const;
  // A UTF-16LE string from `position` up to its 16-bit NUL, which must lie inside the message.
  // Works at odd positions.
  std::optional<std::u16string> String(uint64_t position) const;

 private:
  bool Holds(uint64_t position, uint64_t count) const;

  std::span<const uint8_t> message_;
};

}  // namespace quil
