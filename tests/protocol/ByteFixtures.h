// Helpers for byte-exact message fixtures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <vector>

namespace quil::test {

using Bytes = std::vector<uint8_t>;

// Concatenates fixture fields, each written out as its own byte list.
inline Bytes Join(std::initializer_list<Bytes> fields) {
  Bytes joined;
  for (const Bytes& field : fields) joined.insert(joined.end(), field.begin(), field.end());
  return joined;
}

// A distinctive pattern, so that a shifted or truncated copy shows.
inline Bytes Pattern(std::size_t size) {
  Bytes bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

// Bytes written as hexadecimal pairs; spaces between pairs are ignored.
inline Bytes Hex(std::string_view text) {
  auto nibble = [](char c) { return static_cast<uint8_t>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10); };
  Bytes bytes;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == ' ') continue;
    bytes.push_back(static_cast<uint8_t>(nibble(text[i]) << 4 | nibble(text[i + 1])));
    ++i;
  }
  return bytes;
}

}  // namespace quil::test
