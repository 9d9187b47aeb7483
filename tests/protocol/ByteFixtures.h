// Helpers for byte-exact message fixtures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
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

}  // namespace quil::test
