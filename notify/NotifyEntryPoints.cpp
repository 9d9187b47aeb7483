#include <windows.h>

#include <wtsapi32.h>

#include <optional>

#include "CQuilSessionRegistry.h"
#include "OrphanedPrinters.h"
#include "QuilLog.h"
#include "QuillonNotify.h"
#include "SessionText.h"

namespace quil {
namespace {

std::optional<DWORD> SessionIdOfToken(HANDLE token) {
  DWORD sessionId = 0;
  DWORD size = 0;
  if (!token || !GetTokenInformation(token, TokenSessionId, &sessionId, sizeof(sessionId), &size)) {
    return std::nullopt;
  }
  return sessionId;
}

void Logon(DWORD sessionId, HANDLE userToken) {
  Log(L"Logon session %d", static_cast<int>(sessionId));
  const SessionText user(sessionId, WTSUserName);
  if (!user.get()) return;
  Log(L"Session %d user is %s", static_cast<int>(sessionId), user.get());
  const SessionText domain(sessionId, WTSDomainName);
  Log(L"Session %d domain is %s", static_cast<int>(sessionId), domain.get() ? domain.get() : L"");
  CQuilSessionRegistry::Instance().Logon(sessionId, user.get(), userToken);
}

void Logoff(DWORD sessionId) {
  Log(L"Logoff session %d", static_cast<int>(sessionId));
  CQuilSessionRegistry::Instance().Logoff(sessionId);
}

}  // namespace
}  // namespace quil

// No exception leaves the library.
extern "C" {

int WINAPI QuilEventLogon(DWORD sessionId, HANDLE userToken) {
  try {
    quil::Logon(sessionId, userToken);
  } catch (...) {
  }
  return 0;
}

void WINAPI QuilEventLogoff(DWORD sessionId, HANDLE) {
  try {
    quil::Logoff(sessionId);
  } catch (...) {
  }
}

void WINAPI QuilRemoveOrphanedPrinters() {
  try {
    quil::RemoveOrphanedPrinters();
  } catch (...) {
  }
}

void WINAPI WLEventLogon(PWLX_NOTIFICATION_INFO info) {
  if (!info) return;
  if (const auto sessionId = quil::SessionIdOfToken(info->hToken)) QuilEventLogon(*sessionId, info->hToken);
}

void WINAPI WLEventLogoff(PWLX_NOTIFICATION_INFO info) {
  if (!info) return;
  if (const auto sessionId = quil::SessionIdOfToken(info->hToken)) QuilEventLogoff(*sessionId, nullptr);
}

}  // extern "C"
