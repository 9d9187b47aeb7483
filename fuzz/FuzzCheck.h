// Property checks in fuzz targets: a broken property aborts, which libFuzzer reports as a crash.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <span>

namespace quil::fuzz {

inline void Require(bool holds) {
  if (!holds) std::abort();
}

// Whether `part` lies inside `whole`, compared as addresses.
inline bool LiesInside(std::span<const uint8_t> part, std::span<const uint8_t> whole) {
  const auto begin = reinterpret_cast<uintptr_t>(whole.data());
  const auto partBegin = reinterpret_cast<uintptr_t>(part.data());
  return partBegin >= begin && part.size() <= whole.size() &&
         partBegin - begin <= whole.size() - part.size();
}

}  // namespace quil::fuzz
