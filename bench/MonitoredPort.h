// The port monitor's own code behind the simulated spooler, as the spooler drives it: the monitor
// initialised, one session port added and configured through its transceive commands, and jobs
// run through its job entry points (open, start, driver output, end, close).
#pragma once

#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#include <memory>
#include <string>
#include <vector>

#include "SimSpooler.h"
#include "SpoolDataFixtures.h"
#include "UniqueHandle.h"

namespace quil::bench {

class MonitoredPort {
 public:
  static constexpr DWORD kSession = 71;
  static constexpr const wchar_t* kPort = L"QPRN[71:0:1]";
  static constexpr const wchar_t* kPrinter = L"Laser on PRINTSRV (alice : 71)";
  static constexpr const wchar_t* kClientPrinter = L"\\\\PRINTSRV\\Laser";
  static constexpr const wchar_t* kDocument = L"Benchmark document";

  // Needs the replacement spooler router "SPOOLSS.DLL" beside the executable. The port's jobs go
  // to the client's printer of this name.
  explicit MonitoredPort(const wchar_t* clientPrinter = kClientPrinter);
  MonitoredPort(const MonitoredPort&) = delete;
  MonitoredPort& operator=(const MonitoredPort&) = delete;

  // Whether the monitor started and took the port and its settings.
  bool Ready() const { return ready_; }
  // Hosts a job of this spool data in the simulated spooler and runs it through the port, as a
  // spooler thread would, with the job's device settings; false if an entry point failed.
  bool RunJob(DWORD jobId, std::shared_ptr<const sim::SimSpoolData> data,
              std::vector<uint8_t> devMode = test::JobDevMode(220, 0));
  // When the last job's StartDocPort was called (Now()).
  double StartDocAt() const { return startDocAt_; }

 private:
  DWORD Xcv(const wchar_t* command, std::vector<uint8_t> input);

  UniqueModule router_;
  MONITORINIT init_{};
  HANDLE monitorHandle_ = nullptr;
  MONITOR2* monitor_ = nullptr;
  bool ready_ = false;
  double startDocAt_ = 0;
};

}  // namespace quil::bench
