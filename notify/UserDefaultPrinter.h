// The user's own default printer, a setting of her profile: read and set as the user.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace quil {

// The default printer the user had before the session's printers: nullopt when she has none, when
// her token cannot be impersonated, or when it is one of the session printers (after a restore that
// failed, or left by an earlier run of the service), which is never one to return to.
std::optional<std::wstring> EarlierDefaultPrinter(HANDLE userToken);

// Makes the printer the user's default again; a failure is logged.
void RestoreDefaultPrinter(HANDLE userToken, const std::wstring& printerName);

}  // namespace quil
