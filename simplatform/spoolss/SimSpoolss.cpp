// A replacement "SPOOLSS.DLL" for test processes that host the port monitor themselves: the
// spooler router's EnumPortsW with a port list the test sets, and RevertToPrinterSelf and
// ImpersonatePrinterClient acting on the calling thread's real token. Tests load it beside their
// executable with WINEDLLOVERRIDES="spoolss=n" and steer it through the SimSpoolss* exports.
#include <windows.h>

#include <winspool.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

CRITICAL_SECTION lock;
std::vector<std::wstring> ports;
DWORD enumPortsError = 0;  // set: every EnumPortsW call fails with it
DWORD secondCallError = 0;  // set: the call with a buffer fails with it
LONG reverts = 0;
LONG impersonations = 0;
LONG enumCalls = 0;

class Guard {
 public:
  Guard() { EnterCriticalSection(&lock); }
  ~Guard() { LeaveCriticalSection(&lock); }
};

DWORD Needed() {
  DWORD needed = 0;
  for (const auto& port : ports) needed += sizeof(PORT_INFO_1W) + (port.size() + 1) * sizeof(wchar_t);
  return needed;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
  if (reason == DLL_PROCESS_DETACH) DeleteCriticalSection(&lock);
  return TRUE;
}

// The spooler's port list, as a sequence of NUL-terminated names ending in an empty one.
void WINAPI SimSpoolssSetPorts(const wchar_t* names) {
  Guard guard;
  ports.clear();
  for (const wchar_t* name = names; name && *name; name += wcslen(name) + 1) ports.emplace_back(name);
}

void WINAPI SimSpoolssFailEnumPorts(DWORD everyCall, DWORD callWithBuffer) {
  Guard guard;
  enumPortsError = everyCall;
  secondCallError = callWithBuffer;
}

void WINAPI SimSpoolssCounts(LONG* revertCalls, LONG* impersonateCalls, LONG* enumPortsCalls) {
  Guard guard;
  *revertCalls = reverts;
  *impersonateCalls = impersonations;
  *enumPortsCalls = enumCalls;
}

BOOL WINAPI EnumPortsW(LPWSTR, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
  Guard guard;
  ++enumCalls;
  if (enumPortsError) {
    SetLastError(enumPortsError);
    return FALSE;
  }
  if (level != 1 || !needed || !returned) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  *needed = Needed();
  *returned = 0;
  if (size < *needed || (!buffer && *needed)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (secondCallError) {
    SetLastError(secondCallError);
    return FALSE;
  }
  auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer);
  BYTE* strings = buffer + size;
  for (const auto& port : ports) {
    const size_t bytes = (port.size() + 1) * sizeof(wchar_t);
    strings -= bytes;
    std::memcpy(strings, port.c_str(), bytes);
    entries[(*returned)++].pName = reinterpret_cast<LPWSTR>(strings);
  }
  return TRUE;
}

// The caller's impersonation token (null when the thread impersonates nobody); the thread then
// acts as the process itself.
HANDLE WINAPI RevertToPrinterSelf() {
  InterlockedIncrement(&reverts);
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE | TOKEN_QUERY, TRUE, &token)) return nullptr;
  RevertToSelf();
  return token;
}

BOOL WINAPI ImpersonatePrinterClient(HANDLE token) {
  InterlockedIncrement(&impersonations);
  if (!token) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const BOOL done = SetThreadToken(nullptr, token);
  CloseHandle(token);
  return done;
}

}  // extern "C"
