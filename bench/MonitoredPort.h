// The port monitor's own code behind the simulated spooler, as the spooler drives it: the monitor
// initialised, one session port added and configured through its transceive commands, and jobs
// run through its job entry points (open, start, driver output, end, close).
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#include <memory>
#include <string>

#include "SimSpooler.h"
#include "UniqueHandle.h"

namespace quil::bench {

class MonitoredPort {
 public:
  static constexpr DWORD kSession = 71;
  static constexpr const wchar_t* kPort = L"QPRN[71:0:1]";
  static constexpr const wchar_t* kPrinter = L"Laser on PRINTSRV (alice : 71)";
  static constexpr const wchar_t* kClientPrinter = L"\\\\PRINTSRV\\Laser";
  static constexpr const wchar_t* kDocument = L"Benchmark document";

  // Needs the replacement spooler router "SPOOLSS.DLL" beside the executable.
  MonitoredPort();
  MonitoredPort(const MonitoredPort&) = delete;
  MonitoredPort& operator=(const MonitoredPort&) = delete;

  // Whether the monitor started and took the port and its settings.
  bool Ready() const { return ready_; }
  // Hosts a job of this spool data in the simulated spooler and runs it through the port, as a
  // spooler thread would; false if an entry point failed.
  bool RunJob(DWORD jobId, std::shared_ptr<const sim::SimSpoolData> data);

 private:
  DWORD Xcv(const wchar_t* command, std::vector<uint8_t> input);

  UniqueModule router_;
  MONITORINIT init_{};
  HANDLE monitorHandle_ = nullptr;
  MONITOR2* monitor_ = nullptr;
  bool ready_ = false;
};

}  // namespace quil::bench
