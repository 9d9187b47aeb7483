#include "HostMonitor.h"

#include <memory>

namespace sim::host {
namespace {

constexpr wchar_t kMonitorFile[] = L"\\QPortMonitor.dll";

using InitializeMonitorCall = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);

std::wstring MonitorPath() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length && length < MAX_PATH ? std::wstring(folder) + kMonitorFile : std::wstring();
}

// A port handle that the monitor closes with ClosePort.
class OpenPort {
 public:
  OpenPort(const MONITOR2& table, HANDLE monitor, const std::wstring& port) : table_(table) {
    std::wstring name = port;
    if (!table_.pfnOpenPort(monitor, name.data(), &handle_)) handle_ = nullptr;
  }
  ~OpenPort() {
    if (handle_) table_.pfnClosePort(handle_);
  }
  OpenPort(const OpenPort&) = delete;
  OpenPort& operator=(const OpenPort&) = delete;

  HANDLE get() const { return handle_; }

 private:
  const MONITOR2& table_;
  HANDLE handle_ = nullptr;
};

}  // namespace

HostMonitor& HostMonitor::Instance() {
  static HostMonitor monitor;
  return monitor;
}

const MONITOR2* HostMonitor::Table(HANDLE& monitor) {
  Guard guard(lock_);
  if (!table_) {
    if (!router_) router_.reset(LoadLibraryW(L"SPOOLSS.DLL"));
    quil::UniqueModule module(LoadLibraryW(MonitorPath().c_str()));
    const auto initialize = module ? reinterpret_cast<InitializeMonitorCall>(reinterpret_cast<void*>(
                                         GetProcAddress(module.get(), "InitializePrintMonitor2")))
                                   : nullptr;
    if (!initialize) return nullptr;
    init_ = {sizeof(MONITORINIT), nullptr, nullptr, nullptr, TRUE, nullptr};
    table_ = initialize(&init_, &monitor_);
    if (!table_) return nullptr;
    module_ = std::move(module);
  }
  monitor = monitor_;
  return table_;
}

BOOL HostMonitor::OpenXcv(ACCESS_MASK access, HANDLE* xcv) {
  HANDLE monitor = nullptr;
  const MONITOR2* table = Table(monitor);
  if (!table || !xcv) {
    SetLastError(table ? ERROR_INVALID_PARAMETER : ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  if (!table->pfnXcvOpenPort(monitor, L"", access, xcv)) return FALSE;
  Guard guard(lock_);
  xcvs_.insert(*xcv);
  return TRUE;
}

bool HostMonitor::IsXcv(HANDLE handle) {
  Guard guard(lock_);
  return xcvs_.count(handle) != 0;
}

BOOL HostMonitor::XcvData(HANDLE xcv, PCWSTR command, PBYTE input, DWORD inputSize, PBYTE output,
                          DWORD outputSize, PDWORD needed, PDWORD status) {
  HANDLE monitor = nullptr;
  const MONITOR2* table = Table(monitor);
  if (!table || !IsXcv(xcv) || !command || !needed || !status) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *status = table->pfnXcvDataPort(xcv, command, input, inputSize, output, outputSize, needed);
  return TRUE;
}

BOOL HostMonitor::CloseXcv(HANDLE xcv) {
  HANDLE monitor = nullptr;
  const MONITOR2* table = Table(monitor);
  {
    Guard guard(lock_);
    if (!table || !xcvs_.erase(xcv)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  return table->pfnXcvClosePort(xcv);
}

bool HostMonitor::RunJob(const std::wstring& port, const std::wstring& printer, DWORD jobId,
                         const std::wstring& document) {
  HANDLE monitor = nullptr;
  const MONITOR2* table = Table(monitor);
  if (!table) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
  }
  const OpenPort open(*table, monitor, port);
  if (!open.get()) return false;
  std::wstring printerName = printer;
  std::wstring documentName = document;
  DOC_INFO_1W info{documentName.data(), nullptr, const_cast<LPWSTR>(L"NT EMF 1.008")};
  if (table->pfnStartDocPort(open.get(), printerName.data(), jobId, 1, reinterpret_cast<LPBYTE>(&info))) {
    table->pfnEndDocPort(open.get());
  }
  return true;
}

BOOL HostMonitor::EnumPorts(DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned) {
  HANDLE monitor = nullptr;
  const MONITOR2* table = Table(monitor);
  if (!table) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return table->pfnEnumPorts(monitor, nullptr, level, ports, size, needed, returned);
}

std::optional<std::vector<std::wstring>> HostMonitor::Ports() {
  HANDLE monitor = nullptr;
  const MONITOR2* table = Table(monitor);
  if (!table) return std::nullopt;
  DWORD needed = 0;
  DWORD returned = 0;
  if (!table->pfnEnumPorts(monitor, nullptr, 1, nullptr, 0, &needed, &returned) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return std::nullopt;
  }
  // PORT_INFO_1W entries hold pointers: the buffer is allocated with their alignment.
  std::unique_ptr<PORT_INFO_1W[]> buffer(new PORT_INFO_1W[needed / sizeof(PORT_INFO_1W) + 1]);
  if (!table->pfnEnumPorts(monitor, nullptr, 1, reinterpret_cast<LPBYTE>(buffer.get()), needed, &needed, &returned)) {
    return std::nullopt;
  }
  std::vector<std::wstring> ports;
  for (DWORD i = 0; i < returned; ++i) ports.emplace_back(buffer[i].pName);
  return ports;
}

}  // namespace sim::host
