// Install and Uninstall of the delivered library against Wine's own spooler, which registers the
// real monitor (loading it from the system folder), keeps the driver and copies its files. Wine
// has no Unidrv: stand-in files with the five component names lie beside the library, with the
// project's own printer description. After each step the spooler's own view is checked.
#include <gtest/gtest.h>
#include <windows.h>

#include <msi.h>
#include <winspool.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "SpoolerEnvironment.h"
#include "UniqueHandle.h"

namespace quil::test {
namespace {

constexpr wchar_t kMonitorName[] = L"Quillon Port";
constexpr wchar_t kDriverName[] = L"Quillon Driver v.0.1";
const std::vector<std::wstring> kUnidrvFiles = {L"unidrvui.dll", L"unidrv.dll", L"unidrv.hlp", L"stdnames.gpd",
                                                L"unires.dll"};
const std::vector<std::wstring> kDriverFiles = {L"unidrvui.dll", L"emf.gpd",      L"unidrv.dll",
                                                L"unidrv.hlp",   L"stdnames.gpd", L"unires.dll"};
constexpr UINT kFailure = ERROR_INSTALL_FAILURE;

std::wstring Folder(UINT(WINAPI* get)(LPWSTR, UINT)) {
  wchar_t folder[MAX_PATH] = {};
  get(folder, MAX_PATH);
  return std::wstring(folder) + L"\\";
}
UINT WINAPI TempFolder(LPWSTR buffer, UINT size) { return GetTempPathW(size, buffer); }

std::wstring DriverDirectory() {
  wchar_t directory[MAX_PATH] = {};
  DWORD needed = 0;
  EXPECT_TRUE(GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), 1,
                                         reinterpret_cast<BYTE*>(directory), sizeof(directory), &needed));
  return std::wstring(directory) + L"\\";
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream file(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}
void WriteFile(const std::wstring& path, const std::string& bytes) { std::ofstream(path.c_str(), std::ios::binary) << bytes; }
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool MonitorRegistered() {
  DWORD needed = 0, count = 0;
  EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  if (!EnumMonitorsW(nullptr, 1, buffer.data(), needed, &needed, &count)) return false;
  const auto* monitors = reinterpret_cast<const MONITOR_INFO_1W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (std::wstring(monitors[i].pName) == kMonitorName) return true;
  }
  return false;
}

// The spooler's level-3 record of the driver, as strings; nothing if it has no such driver.
struct DriverRecord {
  DWORD version;
  std::wstring environment, driverPath, dataFile, configFile, helpFile, dependentFiles, monitor, dataType;
};
std::optional<DriverRecord> RegisteredDriver() {
  DWORD needed = 0, count = 0;
  const auto environment = const_cast<LPWSTR>(kSpoolerEnvironment);
  EnumPrinterDriversW(nullptr, environment, 3, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed);
  if (!EnumPrinterDriversW(nullptr, environment, 3, buffer.data(), needed, &needed, &count)) return std::nullopt;
  const auto* drivers = reinterpret_cast<const DRIVER_INFO_3W*>(buffer.data());
  auto text = [](const wchar_t* value) { return std::wstring(value ? value : L""); };
  for (DWORD i = 0; i < count; ++i) {
    const DRIVER_INFO_3W& d = drivers[i];
    if (text(d.pName) != kDriverName) continue;
    std::wstring dependent;
    for (const wchar_t* file = d.pDependentFiles; file && *file; file += wcslen(file) + 1) dependent += text(file) + L"|";
    return DriverRecord{d.cVersion, text(d.pEnvironment), text(d.pDriverPath), text(d.pDataFile),
                        text(d.pConfigFile), text(d.pHelpFile), dependent, text(d.pMonitorName),
                        text(d.pDefaultDataType)};
  }
  return std::nullopt;
}

// A folder holding a copy of the delivered library with the driver's six files beside it, the
// monitor in the system folder, and a spooler without the monitor or the driver.
class InstallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RemoveInstallation();
    CreateDirectoryW(folder_.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(QUIL_NOTIFY_DLL, (folder_ + L"QuillonNotify.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(QUIL_MONITOR_DLL, (Folder(GetSystemDirectoryW) + L"QPortMonitor.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(QUIL_EMF_GPD, (folder_ + L"emf.gpd").c_str(), FALSE));
    for (const std::wstring& file : kUnidrvFiles) WriteFile(folder_ + file, "stand-in " + std::string(file.begin(), file.end()));
  }
  void TearDown() override {
    library_.reset();
    RemoveInstallation();
    for (const std::wstring& file : kDriverFiles) DeleteFileW((folder_ + file).c_str());
    DeleteFileW((folder_ + L"QuillonNotify.dll").c_str());
    RemoveDirectoryW(folder_.c_str());
  }
  static void RemoveInstallation() {
    DeletePrinterDriverW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), const_cast<LPWSTR>(kDriverName));
    DeleteMonitorW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), const_cast<LPWSTR>(kMonitorName));
    // The spooler keeps its own copies of the driver's files in the "3" folder.
    for (const std::wstring& file : kDriverFiles) {
      DeleteFileW((DriverDirectory() + file).c_str());
      DeleteFileW((DriverDirectory() + L"3\\" + file).c_str());
    }
  }

  // Runs an export of the library copy as Windows Installer would, with the given handle.
  UINT Run(const char* entry, MSIHANDLE handle = 0) {
    if (!library_) library_.reset(LoadLibraryW((folder_ + L"QuillonNotify.dll").c_str()));
    using CustomAction = UINT(WINAPI*)(MSIHANDLE);
    const auto action = reinterpret_cast<CustomAction>(reinterpret_cast<void*>(GetProcAddress(library_.get(), entry)));
    EXPECT_NE(action, nullptr) << entry;
    return action ? action(handle) : kFailure;
  }

  std::vector<std::wstring> FilesInDriverDirectory() {
    std::vector<std::wstring> present;
    for (const std::wstring& file : kDriverFiles) {
      if (Exists(DriverDirectory() + file)) present.push_back(file);
    }
    return present;
  }

  const std::wstring folder_ = Folder(TempFolder) + L"quillon-install\\";
  UniqueModule library_;
};

TEST_F(InstallTest, InstallRegistersMonitorAndDriverAndUninstallRemovesThem) {
  for (MSIHANDLE handle : {MSIHANDLE{0}, MSIHANDLE{0xDEAD}}) {  // the handle is never read
    ASSERT_EQ(Run("Install", handle), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_TRUE(MonitorRegistered());
    EXPECT_EQ(FilesInDriverDirectory(), kDriverFiles);
    EXPECT_EQ(ReadFile(DriverDirectory() + L"unidrv.dll"), "stand-in unidrv.dll");
    const std::optional<DriverRecord> driver = RegisteredDriver();
    ASSERT_TRUE(driver);
    EXPECT_EQ(driver->version, 3u);
    EXPECT_EQ(driver->environment, kSpoolerEnvironment);
    // The spooler keeps the files of a version-3 driver in the directory's own "3" folder.
    const std::wstring kept = DriverDirectory() + L"3\\";
    EXPECT_EQ(driver->driverPath, kept + L"unidrv.dll");
    EXPECT_EQ(driver->dataFile, kept + L"emf.gpd");
    EXPECT_EQ(driver->configFile, kept + L"unidrvui.dll");
    EXPECT_EQ(driver->helpFile, kept + L"unidrv.hlp");
    EXPECT_EQ(driver->dependentFiles, kept + L"stdnames.gpd|" + kept + L"unires.dll|");
    EXPECT_EQ(driver->monitor, L"");
    EXPECT_EQ(driver->dataType, L"RAW");

    ASSERT_EQ(Run("Uninstall", handle), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_FALSE(MonitorRegistered());
    EXPECT_FALSE(RegisteredDriver());
    EXPECT_EQ(FilesInDriverDirectory(), std::vector<std::wstring>{});
  }
}

// What is already gone counts as removed, so a removal can always be completed: after a partial
// one, or after an administrator deleted a part by hand.
TEST_F(InstallTest, UninstallCountsWhatIsAlreadyGoneAsRemoved) {
  const struct {
    const char* gone;
    std::function<void()> remove;
  } cases[] = {
      {"everything, by an earlier Uninstall", [this] { Run("Uninstall"); }},
      {"the driver",
       [] {
         DeletePrinterDriverW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), const_cast<LPWSTR>(kDriverName));
       }},
      {"the monitor",
       [] {
         DeleteMonitorW(nullptr, const_cast<LPWSTR>(kSpoolerEnvironment), const_cast<LPWSTR>(kMonitorName));
       }},
      {"a copy of a driver file", [] { DeleteFileW((DriverDirectory() + L"emf.gpd").c_str()); }},
  };
  for (const auto& gone : cases) {
    SCOPED_TRACE(gone.gone);
    ASSERT_EQ(Run("Install"), static_cast<UINT>(ERROR_SUCCESS));
    gone.remove();
    EXPECT_EQ(Run("Uninstall"), static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_FALSE(MonitorRegistered());
    EXPECT_FALSE(RegisteredDriver());
    EXPECT_EQ(FilesInDriverDirectory(), std::vector<std::wstring>{});
  }
}

// A part that cannot be removed fails the removal, but every other part is still removed; once
// the cause is gone, Uninstall completes the removal.
TEST_F(InstallTest, UninstallGoesOnPastAPartItCannotRemove) {
  ASSERT_EQ(Run("Install"), static_cast<UINT>(ERROR_SUCCESS));
  const std::wstring blocked = DriverDirectory() + L"unidrv.dll";
  ASSERT_TRUE(DeleteFileW(blocked.c_str()));
  ASSERT_TRUE(CreateDirectoryW(blocked.c_str(), nullptr));
  EXPECT_EQ(Run("Uninstall"), kFailure);
  EXPECT_FALSE(MonitorRegistered());
  EXPECT_FALSE(RegisteredDriver());
  EXPECT_EQ(FilesInDriverDirectory(), std::vector<std::wstring>{L"unidrv.dll"});
  ASSERT_TRUE(RemoveDirectoryW(blocked.c_str()));
  EXPECT_EQ(Run("Uninstall"), static_cast<UINT>(ERROR_SUCCESS));
}

TEST_F(InstallTest, InstallAgainKeepsTheMonitorAndOverwritesTheFiles) {
  ASSERT_EQ(Run("Install"), static_cast<UINT>(ERROR_SUCCESS));
  WriteFile(folder_ + L"unidrv.dll", "newer stand-in");
  EXPECT_EQ(Run("Install"), static_cast<UINT>(ERROR_SUCCESS));
  EXPECT_TRUE(MonitorRegistered());
  EXPECT_TRUE(RegisteredDriver());
  EXPECT_EQ(ReadFile(DriverDirectory() + L"unidrv.dll"), "newer stand-in");
}

// A server whose monitors do not fit into 8192 bytes: the monitor must still be found.
TEST_F(InstallTest, InstallAgainFindsTheMonitorInALongMonitorList) {
  ASSERT_EQ(Run("Install"), static_cast<UINT>(ERROR_SUCCESS));
  std::vector<std::wstring> fillers;
  for (int i = 0; i < 80; ++i) fillers.push_back(std::wstring(80, L'm') + std::to_wstring(i));
  for (std::wstring& name : fillers) {
    MONITOR_INFO_2W info{name.data(), nullptr, const_cast<LPWSTR>(L"QPortMonitor.dll")};
    ASSERT_TRUE(AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&info))) << GetLastError();
  }
  DWORD needed = 0, count = 0;
  EnumMonitorsW(nullptr, 1, nullptr, 0, &needed, &count);
  EXPECT_GT(needed, 8192u);
  EXPECT_EQ(Run("Install"), static_cast<UINT>(ERROR_SUCCESS));
  for (std::wstring& name : fillers) DeleteMonitorW(nullptr, nullptr, name.data());
}

TEST_F(InstallTest, MissingPrinterDescriptionStopsAfterTheFirstFileAndKeepsTheMonitor) {
  ASSERT_TRUE(DeleteFileW((folder_ + L"emf.gpd").c_str()));
  EXPECT_EQ(Run("Install"), kFailure);
  EXPECT_TRUE(MonitorRegistered());
  EXPECT_EQ(FilesInDriverDirectory(), std::vector<std::wstring>{L"unidrvui.dll"});
  EXPECT_FALSE(RegisteredDriver());
}

}  // namespace
}  // namespace quil::test
