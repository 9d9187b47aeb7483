#include "MessageReader.h"

namespace quil {

bool CQuilMessageReader::Holds(uint64_t position, uint64_t count) const {
  const uint64_t size = message_.size();
  return position <= size && count <= size - position;
}

std::optional<uint16_t> CQuilMessageReader::U16(uint64_t position) const {
  const auto bytes = Bytes(position, 2);
  if (!bytes) return std::nullopt;
  const auto& b = *bytes;
  return static_cast<uint16_t>(b[0] | b[1] << 8);
}

std::optional<uint32_t> CQuilMessageReader::U32(uint64_t position) const {
  const auto bytes = Bytes(position, 4);
  if (!bytes) return std::nullopt;
  const auto& b = *bytes;
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}

std::optional<std::span<const uint8_t>> CQuilMessageReader::Bytes(uint64_t position,
                                                                  uint64_t count) const {
  if (!Holds(position, count)) return std::nullopt;
  return message_.subspan(static_cast<std::size_t>(position), static_cast<std::size_t>(count));
}

std::optional<std::u16string> CQuilMessageReader::String(uint64_t position) const {
  std::u16string text;
  for (auto unit = U16(position); unit; unit = U16(position)) {
    if (*unit == 0) return text;
    text.push_back(static_cast<char16_t>(*unit));
    position += 2;
  }
  return std::nullopt;
}

}  // namespace quil
