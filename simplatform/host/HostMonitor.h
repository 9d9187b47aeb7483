// The real port monitor behind the simulated spooler: QPortMonitor.dll loaded from the system
// folder and initialised through InitializePrintMonitor2 on first use (never while the loader
// runs a module entry), its transceive object reached through ",XcvMonitor Quillon Port", and a
// job's port calls made in the spooler's order.
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "SimLock.h"
#include "UniqueHandle.h"

namespace sim::host {

class HostMonitor {
 public:
  static HostMonitor& Instance();

  // XcvOpenPort with the access the caller asked for; false with the last error set when the
  // monitor cannot be loaded or refuses.
  BOOL OpenXcv(ACCESS_MASK access, HANDLE* xcv);
  bool IsXcv(HANDLE handle);
  // XcvDataPort: TRUE with the monitor's answer in *status, as the spooler reports it.
  BOOL XcvData(HANDLE xcv, PCWSTR command, PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
               PDWORD needed, PDWORD status);
  BOOL CloseXcv(HANDLE xcv);

  // OpenPort, StartDocPort (level 1), EndDocPort and ClosePort for one job on the calling thread;
  // false with the last error set if the monitor is missing or the port does not open.
  bool RunJob(const std::wstring& port, const std::wstring& printer, DWORD jobId, const std::wstring& document);
  // The monitor's ports (EnumPorts level 1, as the spooler itself sees them); nullopt if the
  // monitor is missing or the enumeration fails.
  std::optional<std::vector<std::wstring>> Ports();
  // EnumPorts on the calling thread, as the spooler calls it for EnumPortsW; false with the last
  // error set if the monitor is missing or refuses.
  BOOL EnumPorts(DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned);

 private:
  HostMonitor() = default;
  // The monitor's table, loading it the first time; null if it cannot be loaded.
  const MONITOR2* Table(HANDLE& monitor);

  CriticalSection lock_;
  // The spooler process imports its router, so the monitor's own loads of "SPOOLSS.DLL" only
  // count references there. The host keeps it loaded for as long as the monitor to be the same:
  // otherwise every port command and job would map and unmap it, and under 32-bit Windows each
  // load of a C++ DLL built by mingw's i686 compiler leaves a semaphore of libgcc's unwind
  // registration behind.
  quil::UniqueModule router_;
  quil::UniqueModule module_;
  MONITORINIT init_{};
  HANDLE monitor_ = nullptr;
  const MONITOR2* table_ = nullptr;
  std::set<HANDLE> xcvs_;
};

}  // namespace sim::host
