#include "ServiceEvents.h"

#include <wtsapi32.h>

#include "ImportSlots.h"
#include "SimLock.h"
#include "SimTerminalServer.h"

namespace sim::host {
namespace {

using RegisterHandlerCall = SERVICE_STATUS_HANDLE(WINAPI*)(LPCWSTR, LPHANDLER_FUNCTION_EX, LPVOID);

struct CapturedHandler {
  CriticalSection lock;
  CriticalSection raising;  // one session change in flight at a time, as the manager delivers them
  RegisterHandlerCall original = nullptr;
  LPHANDLER_FUNCTION_EX handler = nullptr;
  LPVOID context = nullptr;
};

CapturedHandler& Captured() {
  static CapturedHandler captured;
  return captured;
}

SERVICE_STATUS_HANDLE WINAPI RegisterAndCaptureHandler(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                       LPVOID context) {
  // The service loads its notification library before it starts the dispatcher, so the library's
  // lookups are routed before any logon (also those the service replays at its start).
  RouteAccountLookups();
  RegisterHandlerCall original = nullptr;
  {
    Guard guard(Captured().lock);
    original = Captured().original;
  }
  const SERVICE_STATUS_HANDLE status = original(name, handler, context);
  if (status) {
    Guard guard(Captured().lock);
    Captured().handler = handler;
    Captured().context = context;
  }
  return status;
}

WINBOOL WINAPI LookupSessionAccount(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize,
                                    LPWSTR domain, LPDWORD domainSize, PSID_NAME_USE use) {
  if (systemName) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return FALSE;
  }
  return SimTerminalServer::Instance().LookupAccount(accountName, sid, sidSize, domain, domainSize, use);
}

}  // namespace

bool CaptureServiceHandler() {
  auto* replacement = reinterpret_cast<void*>(&RegisterAndCaptureHandler);
  void* original =
      ReplaceImport(GetModuleHandleW(nullptr), "advapi32.dll", "RegisterServiceCtrlHandlerExW", replacement);
  if (!original || original == replacement) return original != nullptr;
  Guard guard(Captured().lock);
  Captured().original = reinterpret_cast<RegisterHandlerCall>(original);
  return true;
}

bool RouteAccountLookups() {
  const HMODULE library = GetModuleHandleW(L"QuillonNotify.dll");
  return library && ReplaceImport(library, "advapi32.dll", "LookupAccountNameW",
                                  reinterpret_cast<void*>(&LookupSessionAccount));
}

bool RaiseSessionChange(DWORD eventType, DWORD sessionId) {
  Guard raising(Captured().raising);
  LPHANDLER_FUNCTION_EX handler = nullptr;
  LPVOID context = nullptr;
  {
    Guard guard(Captured().lock);
    handler = Captured().handler;
    context = Captured().context;
  }
  if (!handler) return false;
  RouteAccountLookups();
  WTSSESSION_NOTIFICATION notification{sizeof(notification), sessionId};
  handler(SERVICE_CONTROL_SESSIONCHANGE, eventType, &notification, context);
  return true;
}

}  // namespace sim::host
