// Builds one message: a fixed header followed by a variable area filled from its end backwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace quil {

// The block is sized once, for the fixed header plus the variable area, and starts with the
// message code. Each item laid in ends where the previous one began, the first at the block's
// last byte; its offset is counted from the start of the variable area. Callers size the variable
// area exactly for their items (plus any filler, which stays zero), so all offsets lie inside it.
// Integers are written little-endian whatever the host's byte order.
class CQuilMessageWriter {
 public:
  CQuilMessageWriter(uint32_t code, std::size_t fixedSize, std::size_t variableSize = 0);

  // Bytes a string takes in the variable area: its UTF-16 code units and a NUL.
  static std::size_t StringSize(std::u16string_view text);

  void PutU32(std::size_t position, uint32_t value);
  void PutBytes(std::size_t position, std::span<const uint8_t> bytes);
  // Lay in an item before the previous one; returns its offset within the variable area.
  uint32_t LayInString(std::u16string_view text);
  uint32_t LayInBytes(std::span<const uint8_t> bytes);

  std::vector<uint8_t> Take() { return std::move(block_); }

 private:
  // Takes `size` free bytes just before the previous item; returns their position.
  std::size_t Claim(std::size_t size);

  std::vector<uint8_t> block_;
  std::size_t fixedSize_;
  std::size_t freeEnd_;  // the variable area is free below this position
};

}  // namespace quil
