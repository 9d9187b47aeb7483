// The simulated platform's lock names for the project's critical section and its scoped guard.
#pragma once

#include "CriticalSection.h"

namespace sim {

using CriticalSection = quil::CriticalSection;
using Guard = quil::ScopedLock;

}  // namespace sim
