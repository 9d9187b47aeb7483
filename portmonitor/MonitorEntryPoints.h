// The monitor's entry points, reached by the spooler through the MONITOR2 and MONITORUI tables.
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

namespace quil {

// Port table, handles, enumeration and transceive commands.
BOOL WINAPI QPEnumPorts(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                        LPDWORD returned);
BOOL WINAPI QPOpenPort(HANDLE monitor, LPWSTR portName, PHANDLE port);
BOOL WINAPI QPClosePort(HANDLE port);
BOOL WINAPI QPXcvOpenPort(HANDLE monitor, LPCWSTR object, ACCESS_MASK grantedAccess, PHANDLE xcv);
DWORD WINAPI QPXcvDataPort(HANDLE xcv, LPCWSTR command, PBYTE input, DWORD inputSize, PBYTE output,
                           DWORD outputSize, PDWORD outputNeeded);
BOOL WINAPI QPXcvClosePort(HANDLE xcv);
VOID WINAPI QPShutdown(HANDLE monitor);

// Jobs.
BOOL WINAPI QPStartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo);
BOOL WINAPI QPWritePort(HANDLE port, LPBYTE data, DWORD size, LPDWORD written);
BOOL WINAPI QPReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read);
BOOL WINAPI QPEndDocPort(HANDLE port);
BOOL WINAPI QPSetPortTimeOuts(HANDLE port, LPCOMMTIMEOUTS timeouts, DWORD reserved);

// The user interface: ports are made only by the system itself, so every one refuses.
BOOL WINAPI QPAddPortUI(PCWSTR server, HWND window, PCWSTR portNameIn, PWSTR* portNameOut);
BOOL WINAPI QPConfigurePortUI(PCWSTR server, HWND window, PCWSTR portName);
BOOL WINAPI QPDeletePortUI(PCWSTR server, HWND window, PCWSTR portName);

}  // namespace quil

// The exports whose names the spooler fixes.
extern "C" {
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT monitorInit, PHANDLE monitor);
PMONITORUI WINAPI InitializePrintMonitorUI();
}
