// The spooler calls of the host, exported from the host module under "SimHost" names and reached
// through winspool.drv's forwarders: the monitor's transceive object goes to the real monitor,
// everything else to SimSpooler. Installing monitors and drivers is not part of a running service.
#include <windows.h>

#include <winspool.h>

#include <cwchar>

#include "HostMonitor.h"
#include "SimSpooler.h"

namespace {

sim::SimSpooler& Spooler() { return sim::SimSpooler::Instance(); }
sim::host::HostMonitor& Monitor() { return sim::host::HostMonitor::Instance(); }

BOOL NotSupported() {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

}  // namespace

extern "C" {

WINBOOL WINAPI SimHostOpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
  if (name && std::wcscmp(name, sim::SimSpooler::kXcvMonitorName) == 0) {
    return Monitor().OpenXcv(defaults ? defaults->DesiredAccess : 0, handle);
  }
  return Spooler().OnOpenPrinter(name, handle, defaults);
}

WINBOOL WINAPI SimHostClosePrinter(HANDLE handle) {
  return Monitor().IsXcv(handle) ? Monitor().CloseXcv(handle) : Spooler().OnClosePrinter(handle);
}

WINBOOL WINAPI SimHostXcvDataW(HANDLE handle, PCWSTR command, PBYTE input, DWORD inputSize, PBYTE output,
                               DWORD outputSize, PDWORD needed, PDWORD status) {
  return Monitor().XcvData(handle, command, input, inputSize, output, outputSize, needed, status);
}

HANDLE WINAPI SimHostAddPrinterW(LPWSTR server, DWORD level, LPBYTE info) {
  return Spooler().OnAddPrinter(server, level, info);
}

WINBOOL WINAPI SimHostSetPrinterW(HANDLE handle, DWORD level, LPBYTE info, DWORD command) {
  return Spooler().OnSetPrinter(handle, level, info, command);
}

WINBOOL WINAPI SimHostDeletePrinter(HANDLE handle) { return Spooler().OnDeletePrinter(handle); }

WINBOOL WINAPI SimHostGetDefaultPrinterW(LPWSTR buffer, LPDWORD size) {
  return Spooler().OnGetDefaultPrinter(buffer, size);
}

WINBOOL WINAPI SimHostSetDefaultPrinterW(LPCWSTR name) { return Spooler().OnSetDefaultPrinter(name); }

WINBOOL WINAPI SimHostEnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size,
                                    LPDWORD needed, LPDWORD returned) {
  return Spooler().OnEnumPrinters(flags, name, level, buffer, size, needed, returned);
}

// The spooler lists the ports of its monitors; the only monitor here is the real one.
WINBOOL WINAPI SimHostEnumPortsW(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                                 LPDWORD returned) {
  if (name) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  return Monitor().EnumPorts(level, ports, size, needed, returned);
}

WINBOOL WINAPI SimHostGetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size,
                              LPDWORD needed) {
  return Spooler().OnGetJob(printer, jobId, level, buffer, size, needed);
}

WINBOOL WINAPI SimHostReadPrinter(HANDLE printer, LPVOID buffer, DWORD size, LPDWORD read) {
  return Spooler().OnReadPrinter(printer, buffer, size, read);
}

WINBOOL WINAPI SimHostSetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE info, DWORD command) {
  return Spooler().OnSetJob(printer, jobId, level, info, command);
}

WINBOOL WINAPI SimHostAddMonitorW(LPWSTR, DWORD, LPBYTE) { return NotSupported(); }
WINBOOL WINAPI SimHostDeleteMonitorW(LPWSTR, LPWSTR, LPWSTR) { return NotSupported(); }
WINBOOL WINAPI SimHostEnumMonitorsW(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD) { return NotSupported(); }
WINBOOL WINAPI SimHostAddPrinterDriverW(LPWSTR, DWORD, LPBYTE) { return NotSupported(); }
WINBOOL WINAPI SimHostDeletePrinterDriverW(LPWSTR, LPWSTR, LPWSTR) { return NotSupported(); }
WINBOOL WINAPI SimHostGetPrinterDriverDirectoryW(LPWSTR, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD) {
  return NotSupported();
}

}  // extern "C"
