// Bounded polling of a condition that another thread brings about.
#pragma once

#include <windows.h>

#include "WaitBound.h"

namespace quil::test {

template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = WaitBound(10000)) {
  for (DWORD waited = 0;; waited += 5) {
    if (condition()) return true;
    if (waited >= timeoutMs) return false;
    Sleep(5);
  }
}

}  // namespace quil::test
