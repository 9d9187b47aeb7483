#include "UserDefaultPrinter.h"

#include <winspool.h>

#include "CQuilImpersonation.h"
#include "QuilLog.h"
#include "SessionPrinterInventory.h"

namespace quil {
namespace {

// Read as the user: the thread's own identity is the local system account, whose default printer
// is not the user's.
std::optional<std::wstring> UsersDefaultPrinter(HANDLE userToken) {
  CQuilImpersonation asUser(userToken);
  if (!asUser.Active()) return std::nullopt;
  DWORD length = 0;
  if (GetDefaultPrinterW(nullptr, &length) || GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) {
    return std::nullopt;
  }
  std::wstring name(length, L'\0');
  if (!GetDefaultPrinterW(name.data(), &length)) return std::nullopt;
  name.resize(wcsnlen(name.c_str(), name.size()));
  return name;
}

}  // namespace

// Whether it is a session printer is asked as the service, which sees every local printer.
std::optional<std::wstring> EarlierDefaultPrinter(HANDLE userToken) {
  auto name = UsersDefaultPrinter(userToken);
  if (!name) return std::nullopt;
  if (IsSessionPrinter(*name) != false) {
    Log(L"Default printer %s is not recorded: it may be a session printer", name->c_str());
    return std::nullopt;
  }
  return name;
}

void RestoreDefaultPrinter(HANDLE userToken, const std::wstring& printerName) {
  CQuilImpersonation asUser(userToken);
  if (!asUser.Active()) return;
  if (SetDefaultPrinterW(printerName.c_str())) return;
  const DWORD error = GetLastError();
  Log(L"Default printer %s could not be set again", printerName.c_str());
  LogErrorText(error);
}

}  // namespace quil
