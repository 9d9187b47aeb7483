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
  // token queries are routed before any logon (also those the service replays at its start).
  RouteTokenQueries();
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

WINBOOL WINAPI QuerySessionToken(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                 PDWORD needed) {
  return SimTerminalServer::Instance().QueryTokenInformation(token, infoClass, info, size, needed);
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

bool RouteTokenQueries() {
  const HMODULE library = GetModuleHandleW(L"QuillonNotify.dll");
  return library && ReplaceImport(library, "advapi32.dll", "GetTokenInformation",
                                  reinterpret_cast<void*>(&QuerySessionToken));
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
  RouteTokenQueries();
  WTSSESSION_NOTIFICATION notification{sizeof(notification), sessionId};
  handler(SERVICE_CONTROL_SESSIONCHANGE, eventType, &notification, context);
  return true;
}

}  // namespace sim::host
