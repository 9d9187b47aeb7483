// Bounds of the tests' waits for what Wine brings about, stretched on a slow machine: the
// environment variable QUIL_TIME_FACTOR, a whole number from 1 to 100 (the emulated x86 run sets
// it), multiplies each bound; without it a bound is as written.
#pragma once

#include <windows.h>

#include <cstdlib>

namespace quil::test {

inline DWORD TimeFactor() {
  static const DWORD factor = [] {
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA("QUIL_TIME_FACTOR", value, sizeof value);
    if (length == 0 || length >= sizeof value) return DWORD{1};
    char* end = nullptr;
    const unsigned long parsed = std::strtoul(value, &end, 10);
    return *end == '\0' && parsed >= 1 && parsed <= 100 ? static_cast<DWORD>(parsed) : DWORD{1};
  }();
  return factor;
}

// The bound of a wait, given in milliseconds as on an ordinary machine.
inline DWORD WaitBound(DWORD milliseconds) { return milliseconds * TimeFactor(); }

}  // namespace quil::test
