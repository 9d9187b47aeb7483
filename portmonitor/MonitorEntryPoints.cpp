// The entry tables, the handle entry points and the refusing user interface.
#include "MonitorEntryPoints.h"

#include <cstddef>
#include <cwchar>
#include <memory>
#include <new>

#include "MonitorHandles.h"
#include "MonitorState.h"
#include "QuilLog.h"

namespace quil {
namespace {

// The table as the spooler knows it since Windows XP, up to SendRecvBidiDataFromPort; later
// slots of the platform's header stay outside the stated size.
constexpr DWORD kMonitor2Size = offsetof(MONITOR2, pfnSendRecvBidiDataFromPort) + sizeof(void*);
// Without the last slot, for the spooler of Windows 2000.
constexpr DWORD kMonitor2SizeVersion50 = kMonitor2Size - sizeof(void*);
static_assert(kMonitor2Size == (sizeof(void*) == 4 ? 80 : 160));
static_assert(kMonitor2SizeVersion50 == (sizeof(void*) == 4 ? 76 : 152));

MONITOR2 monitor2 = {
    .cbSize = kMonitor2Size,
    .pfnEnumPorts = QPEnumPorts,
    .pfnOpenPort = QPOpenPort,
    .pfnOpenPortEx = nullptr,
    .pfnStartDocPort = QPStartDocPort,
    .pfnWritePort = QPWritePort,
    .pfnReadPort = QPReadPort,
    .pfnEndDocPort = QPEndDocPort,
    .pfnClosePort = QPClosePort,
    .pfnAddPort = nullptr,  // ports come only through the transceive command "AddPort"
    .pfnAddPortEx = nullptr,
    .pfnConfigurePort = nullptr,
    .pfnDeletePort = nullptr,
    .pfnGetPrinterDataFromPort = nullptr,
    .pfnSetPortTimeOuts = QPSetPortTimeOuts,
    .pfnXcvOpenPort = QPXcvOpenPort,
    .pfnXcvDataPort = QPXcvDataPort,
    .pfnXcvClosePort = QPXcvClosePort,
    .pfnShutdown = QPShutdown,
    .pfnSendRecvBidiDataFromPort = nullptr,
#if NTDDI_VERSION >= NTDDI_WIN7
    .pfnNotifyUsedPorts = nullptr,  // beyond the stated size
    .pfnNotifyUnusedPorts = nullptr,
#endif
};

MONITORUI monitorUI = {sizeof(MONITORUI), QPAddPortUI, QPConfigurePortUI, QPDeletePortUI};
static_assert(sizeof(MONITORUI) == (sizeof(void*) == 4 ? 16 : 32));

bool IsVersion50() {
  OSVERSIONINFOEXW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 5;
  version.dwMinorVersion = 0;
  DWORDLONG condition = 0;
  condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_EQUAL);
  condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_EQUAL);
  return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

BOOL RefuseUI(const wchar_t* entryPoint) {
  Log(entryPoint);
  SetLastError(ERROR_INVALID_FUNCTION);
  return FALSE;
}

}  // namespace

BOOL WINAPI QPOpenPort(HANDLE monitor, LPWSTR portName, PHANDLE port) {
  try {
    Log(L"QPOpenPort name %s", portName ? portName : L"");
    if (!port || !portName) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    ScopedLock lock(MonitorLock());
    if (!PortTable::Instance().Find(portName)) {
      SetLastError(ERROR_INVALID_NAME);
      return FALSE;
    }
    *port = nullptr;
    const size_t length = wcslen(portName) + 1;
    std::unique_ptr<wchar_t[]> name(new (std::nothrow) wchar_t[length]);
    std::unique_ptr<PortHandle> handle(new (std::nothrow) PortHandle{});
    if (!name || !handle) return FALSE;
    wmemcpy(name.get(), portName, length);
    *handle = {kPortHandleTag, monitor, name.release(), 0, nullptr};
    *port = handle.release();
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}

BOOL WINAPI QPClosePort(HANDLE port) {
  Log(L"QPClosePort");
  PortHandle* handle = AsPortHandle(port);
  if (!handle) return FALSE;
  Log(L"QPClosePort name %s", handle->portName);
  delete[] handle->portName;
  delete handle;
  return TRUE;
}

BOOL WINAPI QPXcvOpenPort(HANDLE monitor, LPCWSTR object, ACCESS_MASK grantedAccess, PHANDLE xcv) {
  Log(L"QPXcvOpenPort");
  if (!xcv) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *xcv = nullptr;
  auto* handle = new (std::nothrow) XcvHandle{};
  if (!handle) return FALSE;
  handle->sizeTag = kXcvHandleTag;
  handle->monitor = monitor;
  if (object) wcsncpy(handle->objectName, object, 254);  // the block is zero-filled: NUL-terminated
  handle->grantedAccess = grantedAccess;
  *xcv = handle;
  return TRUE;
}

BOOL WINAPI QPXcvClosePort(HANDLE xcv) {
  Log(L"QPXcvClosePort");
  XcvHandle* handle = AsXcvHandle(xcv);
  if (!handle) return FALSE;
  delete handle;
  return TRUE;
}

VOID WINAPI QPShutdown(HANDLE) { Log(L"QPShutdown"); }

BOOL WINAPI QPAddPortUI(PCWSTR, HWND, PCWSTR, PWSTR*) { return RefuseUI(L"QPAddPortUI"); }
BOOL WINAPI QPConfigurePortUI(PCWSTR, HWND, PCWSTR) { return RefuseUI(L"QPConfigurePortUI"); }
BOOL WINAPI QPDeletePortUI(PCWSTR, HWND, PCWSTR) { return RefuseUI(L"QPDeletePortUI"); }

}  // namespace quil

extern "C" LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT monitorInit, PHANDLE monitor) {
  // The monitor handle is the initialisation block itself; the monitor never looks into it.
  if (monitor) *monitor = monitorInit;
  quil::monitor2.cbSize = quil::IsVersion50() ? quil::kMonitor2SizeVersion50 : quil::kMonitor2Size;
  return &quil::monitor2;
}

extern "C" PMONITORUI WINAPI InitializePrintMonitorUI() { return &quil::monitorUI; }
