#include "Installation.h"

#include <winspool.h>

#include <string>
#include <vector>

#include "NotifyModule.h"
#include "QuilLog.h"
#include "SpoolerEnvironment.h"

namespace quil {
namespace {

constexpr wchar_t kMonitorFile[] = L"QPortMonitor.dll";
constexpr DWORD kDriverVersion = 3;
constexpr DWORD kDriverDirectoryLength = 260;

// The driver's files, in the order in which they are copied and deleted.
constexpr const wchar_t* kConfigFile = L"unidrvui.dll";
constexpr const wchar_t* kDataFile = L"emf.gpd";
constexpr const wchar_t* kDriverFile = L"unidrv.dll";
constexpr const wchar_t* kHelpFile = L"unidrv.hlp";
constexpr const wchar_t* kDriverFiles[] = {kConfigFile, kDataFile, kDriverFile, kHelpFile, L"stdnames.gpd",
                                           L"unires.dll"};
// The dependent files as a multi-string: each NUL-terminated, the list ended by one more NUL.
constexpr wchar_t kDependentFiles[] = L"stdnames.gpd\0unires.dll\0";

bool Failed() {
  LogErrorText(GetLastError());
  return false;
}

bool AlreadyGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The registered monitors at level 1, read into a buffer of the size the spooler asks for (the
// list can grow between the two calls, so it asks again then); nothing if the spooler fails.
std::vector<BYTE> EnumerateMonitors(DWORD& count) {
  std::vector<BYTE> buffer;
  DWORD needed = 0;
  while (!EnumMonitorsW(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
      count = 0;
      return {};
    }
    buffer.resize(needed);
  }
  return buffer;
}

bool MonitorRegistered() {
  DWORD count = 0;
  const std::vector<BYTE> buffer = EnumerateMonitors(count);
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_1W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (monitors[i].pName && lstrcmpW(monitors[i].pName, kMonitorName) == 0) return true;
  }
  return false;
}

// Whether the spooler's list of drivers shows that the driver is gone; false also when the list
// cannot be read.
bool DriverNotListed() {
  DWORD needed = 0, count = 0;
  const auto environment = const_cast<LPWSTR>(kSpoolerEnvironment);
  EnumPrinterDriversW(nullptr, environment, 1, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  if (!EnumPrinterDriversW(nullptr, environment, 1, buffer.data(), needed, &needed, &count)) return false;
  const auto* drivers = reinterpret_cast<const DRIVER_INFO_1W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (drivers[i].pName && lstrcmpW(drivers[i].pName, kDriverName) == 0) return false;
  }
  return true;
}

// Deletes the driver; a driver that is already gone counts as deleted. Some spoolers fail the
// deletion of an unknown driver without saying why: their list of drivers then decides.
bool DeleteDriver() {
  SetLastError(ERROR_SUCCESS);
  if (DeletePrinterDriverW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), const_cast<LPWSTR>(kDriverName))) {
    return true;
  }
  const DWORD error = GetLastError();
  if (error == ERROR_UNKNOWN_PRINTER_DRIVER || (error == ERROR_SUCCESS && DriverNotListed())) return true;
  LogErrorText(error);
  return false;
}

// The spooler's driver directory for this build's environment, ending in a backslash.
bool DriverDirectory(std::wstring& directory) {
  wchar_t path[kDriverDirectoryLength] = {};
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), 1,
                                  reinterpret_cast<BYTE*>(path), sizeof(path), &needed)) {
    return Failed();
  }
  directory.assign(path).push_back(L'\\');
  return true;
}

bool CopyDriverFiles(const std::wstring& driverDirectory) {
  for (const wchar_t* file : kDriverFiles) {
    if (!CopyFileW((ModuleDirectory() + file).c_str(), (driverDirectory + file).c_str(), FALSE)) return Failed();
  }
  return true;
}

// Deletes every driver file that Install copied; a file that is already gone counts as deleted.
// Goes on past a file that cannot be deleted and reports false then.
bool DeleteDriverFiles(const std::wstring& driverDirectory) {
  bool deleted = true;
  for (const wchar_t* file : kDriverFiles) {
    if (!DeleteFileW((driverDirectory + file).c_str()) && !AlreadyGone(GetLastError())) deleted = Failed();
  }
  return deleted;
}

}  // namespace

bool InstallMonitor() {
  if (MonitorRegistered()) return true;
  MONITOR_INFO_2W monitor{};
  monitor.pName = const_cast<LPWSTR>(kMonitorName);
  monitor.pEnvironment = const_cast<LPWSTR>(kSpoolerEnvironment);
  monitor.pDLLName = const_cast<LPWSTR>(kMonitorFile);
  if (!AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&monitor))) return Failed();
  return true;
}

bool UninstallMonitor() {
  if (DeleteMonitorW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), const_cast<LPWSTR>(kMonitorName))) {
    return true;
  }
  return GetLastError() == ERROR_UNKNOWN_PRINT_MONITOR || Failed();
}

bool InstallDriver() {
  std::wstring directory;
  if (!DriverDirectory(directory) || !CopyDriverFiles(directory)) return false;
  std::wstring driverPath = directory + kDriverFile;
  std::wstring dataFile = directory + kDataFile;
  std::wstring configFile = directory + kConfigFile;
  std::wstring helpFile = directory + kHelpFile;
  DRIVER_INFO_3W driver{};
  driver.cVersion = kDriverVersion;
  driver.pName = const_cast<LPWSTR>(kDriverName);
  driver.pEnvironment = const_cast<LPWSTR>(kSpoolerEnvironment);
  driver.pDriverPath = driverPath.data();
  driver.pDataFile = dataFile.data();
  driver.pConfigFile = configFile.data();
  driver.pHelpFile = helpFile.data();
  driver.pDependentFiles = const_cast<LPWSTR>(kDependentFiles);
  driver.pMonitorName = nullptr;
  driver.pDefaultDataType = const_cast<LPWSTR>(L"RAW");
  if (!AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver))) return Failed();
  return true;
}

bool UninstallDriver() {
  const bool deleted = DeleteDriver();
  // The copies that Install made are deleted even when the spooler keeps the driver: Install
  // makes them again from the installation folder.
  std::wstring directory;
  return DriverDirectory(directory) && DeleteDriverFiles(directory) && deleted;
}

}  // namespace quil

// No exception leaves the library: one would end the installation as a failure.
extern "C" UINT WINAPI Install(MSIHANDLE) {
  try {
    quil::Log(L"Install print monitor.");
    if (!quil::InstallMonitor()) return ERROR_INSTALL_FAILURE;
    quil::Log(L"Install print driver.");
    return quil::InstallDriver() ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

// Runs every step even after one failed, so that a removal run again after a partial one takes
// away what is left; what is already gone counts as removed.
extern "C" UINT WINAPI Uninstall(MSIHANDLE) {
  try {
    quil::Log(L"Uninstall print driver.");
    const bool driverRemoved = quil::UninstallDriver();
    quil::Log(L"Uninstall print monitor.");
    const bool monitorRemoved = quil::UninstallMonitor();
    return driverRemoved && monitorRemoved ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
