#include "MonitoredPort.h"

#include <cstring>

#include "BenchSupport.h"
#include "MonitorEntryPoints.h"
#include "PortSettingsBlock.h"
#include "SimTerminalServer.h"
#include "SimVirtualChannels.h"
#include "SpoolDataFixtures.h"
#include "WideText.h"

namespace quil::bench {
namespace {

std::vector<uint8_t> PortNameInput(const std::wstring& name) {
  std::vector<uint8_t> input((name.size() + 1) * sizeof(wchar_t));
  std::memcpy(input.data(), name.c_str(), input.size());
  return input;
}

}  // namespace

MonitoredPort::MonitoredPort(const wchar_t* clientPrinter) {
  sim::SimTerminalServer::Instance().Reset();
  sim::SimVirtualChannels::Instance().Reset();
  sim::SimSpooler::Instance().Reset();
  // Each message would otherwise be kept for the tests' inspection.
  sim::SimVirtualChannels::Instance().KeepWritten(false);
  sim::SimTerminalServer::Instance().AddSession(kSession, L"RDP-Tcp#1", L"alice", L"DOM");
  router_.reset(LoadLibraryW(L"SPOOLSS.DLL"));
  if (!router_ || !GetProcAddress(router_.get(), "SimSpoolssSetPorts")) return;
  monitor_ = InitializePrintMonitor2(&init_, &monitorHandle_);
  if (!monitor_) return;
  ready_ = Xcv(L"AddPort", PortNameInput(kPort)) == ERROR_SUCCESS &&
           Xcv(L"PortSettings", BuildPortSettingsBlock({ToU16(kPort), ToU16(clientPrinter), u"alice", kSession})) ==
               ERROR_SUCCESS;
}

DWORD MonitoredPort::Xcv(const wchar_t* command, std::vector<uint8_t> input) {
  HANDLE xcv = nullptr;
  if (!monitor_->pfnXcvOpenPort(monitorHandle_, L",XcvMonitor Quillon Port", SERVER_ACCESS_ADMINISTER, &xcv)) {
    return GetLastError();
  }
  DWORD needed = 0;
  const DWORD status = monitor_->pfnXcvDataPort(xcv, command, input.data(), static_cast<DWORD>(input.size()),
                                                nullptr, 0, &needed);
  monitor_->pfnXcvClosePort(xcv);
  return status;
}

bool MonitoredPort::RunJob(DWORD jobId, std::shared_ptr<const sim::SimSpoolData> data, std::vector<uint8_t> devMode) {
  sim::SimJob job;
  job.devMode = std::move(devMode);
  job.documentName = kDocument;
  job.data = std::move(data);
  sim::SimSpooler::Instance().AddJob(kPrinter, jobId, std::move(job));

  HANDLE port = nullptr;
  if (!monitor_->pfnOpenPort(monitorHandle_, const_cast<LPWSTR>(kPort), &port)) return false;
  DOC_INFO_1W info{const_cast<LPWSTR>(kDocument), nullptr, const_cast<LPWSTR>(L"NT EMF 1.008")};
  startDocAt_ = Now();
  const BOOL started =
      monitor_->pfnStartDocPort(port, const_cast<LPWSTR>(kPrinter), jobId, 1, reinterpret_cast<LPBYTE>(&info));
  BYTE driverOutput[100] = {};
  DWORD written = 0;
  const BOOL wrote = monitor_->pfnWritePort(port, driverOutput, sizeof(driverOutput), &written);
  const BOOL ended = monitor_->pfnEndDocPort(port);
  const BOOL closed = monitor_->pfnClosePort(port);
  return started && wrote && ended && closed;
}

}  // namespace quil::bench
