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

inline constexpr DWORD kPortHandleTag = 20;
inline constexpr DWORD kXcvHandleTag = 524;
static_assert(sizeof(void*) != 4 || sizeof(PortHandle) == kPortHandleTag);
static_assert(sizeof(void*) != 4 || sizeof(XcvHandle) == kXcvHandleTag);

// The block behind a handle, or null for a null handle or one of another kind.
PortHandle* AsPortHandle(HANDLE handle);
XcvHandle* AsXcvHandle(HANDLE handle);

}  // namespace quil
