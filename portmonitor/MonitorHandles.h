// The handles the monitor gives the spooler: blocks that start with a size tag, so that a handle
// of the wrong kind (or a stray pointer to one) is refused.
#pragma once

#include <windows.h>

namespace quil {

// From QPOpenPort: one per open port, any number per port name.
struct PortHandle {
  DWORD sizeTag;
  HANDLE monitor;
  wchar_t* portName;  // own copy; the port's record is searched for again whenever needed
  DWORD jobId;
  HANDLE printer;     // opened by QPStartDocPort, closed by QPEndDocPort
};

// From QPXcvOpenPort.
struct XcvHandle {
  DWORD sizeTag;
  HANDLE monitor;
  wchar_t objectName[256];
  ACCESS_MASK grantedAccess;
};

// Each block's tag is its own size: 20 and 524 bytes on x86, 40 and 536 on x64.
inline constexpr DWORD kPortHandleTag = sizeof(PortHandle);
inline constexpr DWORD kXcvHandleTag = sizeof(XcvHandle);
static_assert(kPortHandleTag == (sizeof(void*) == 4 ? 20 : 40));
static_assert(kXcvHandleTag == (sizeof(void*) == 4 ? 524 : 536));

// The block behind a handle, or null for a null handle or one of another kind.
PortHandle* AsPortHandle(HANDLE handle);
XcvHandle* AsXcvHandle(HANDLE handle);

}  // namespace quil
