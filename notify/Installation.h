// Server-side installation: the port monitor's registration with the spooler and the printer
// driver that every session printer uses (a configuration of Unidrv whose files lie beside this
// library). Each step logs a failing call and reports it with false; nothing is rolled back. The
// removal steps count what is already gone as removed and go on past a part they cannot remove.
#pragma once

#include <windows.h>

#include <msi.h>

namespace quil {

// The driver that every session printer uses, and the monitor that owns their ports.
inline constexpr wchar_t kDriverName[] = L"Quillon Driver v.0.1";
inline constexpr wchar_t kMonitorName[] = L"Quillon Port";

bool InstallMonitor();
bool UninstallMonitor();
bool InstallDriver();
bool UninstallDriver();

}  // namespace quil

extern "C" {

// Windows Installer custom actions: ERROR_SUCCESS or ERROR_INSTALL_FAILURE. The handle is not used.
UINT WINAPI Install(MSIHANDLE installer);
UINT WINAPI Uninstall(MSIHANDLE installer);

}  // extern "C"
