// The sizes that the spooler expects the monitor to state for its tables, per architecture.
// MONITOR2 up to SendRecvBidiDataFromPort is a DWORD and 19 entry points; on x64 the entry points
// are 8 bytes and the first is aligned to 8. The spooler of Windows 2000 knows one entry point
// less. MONITORUI is a DWORD and three entry points.
#pragma once

#include <windows.h>

namespace quil::test {

inline constexpr bool kIsX86 = sizeof(void*) == 4;
inline constexpr DWORD kMonitor2Size = kIsX86 ? 80 : 160;
inline constexpr DWORD kMonitor2SizeVersion50 = kIsX86 ? 76 : 152;
inline constexpr DWORD kMonitorUISize = kIsX86 ? 16 : 32;

}  // namespace quil::test
