// The delivered monitor inside Wine's own spooler, which loads it from the system folder and runs
// it in this process: port commands through XcvDataW, enumeration through EnumPortsW. Written in
// the conformance style: last error and out-parameters seeded before each call, buffer sizes
// probed one byte short, exact and one byte over.
#include <gtest/gtest.h>
#include <windows.h>

#include <winspool.h>
#include <winsplp.h>

#include <cstring>
#include <string>
#include <vector>

#include "MonitorTableSizes.h"
#include "UniqueHandle.h"
#include "UniquePrinter.h"
#include "WaitBound.h"

namespace quil::test {
namespace {

constexpr DWORD kSeed = 0xdeadbeef;
constexpr const wchar_t* kMonitorName = L"Quillon Port";
const std::wstring kPort = L"QPRN[3:0:1]";

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  GetSystemDirectoryW(folder, MAX_PATH);
  return folder;
}

std::vector<uint8_t> NameInput(const std::wstring& name) {
  std::vector<uint8_t> input((name.size() + 1) * sizeof(wchar_t));
  std::memcpy(input.data(), name.c_str(), input.size());
  return input;
}

class WineSpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::wstring installed = SystemFolder() + L"\\QPortMonitor.dll";
    ASSERT_TRUE(CopyFileW(QUIL_MONITOR_DLL, installed.c_str(), FALSE)) << "error " << GetLastError();
    MONITOR_INFO_2W info{const_cast<LPWSTR>(kMonitorName), nullptr, const_cast<LPWSTR>(L"QPortMonitor.dll")};
    if (!AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
      ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_MONITOR_ALREADY_INSTALLED));
    }
  }

  UniquePrinter OpenXcv(ACCESS_MASK access) {
    PRINTER_DEFAULTSW defaults{nullptr, nullptr, access};
    UniquePrinter xcv;
    EXPECT_TRUE(OpenPrinterW(const_cast<LPWSTR>(L",XcvMonitor Quillon Port"), xcv.put(), &defaults))
        << "error " << GetLastError();
    return xcv;
  }

  struct XcvResult {
    BOOL ok;
    DWORD status;
    DWORD needed;
  };

  static XcvResult Xcv(HANDLE xcv, const wchar_t* command, std::vector<uint8_t> input, BYTE* output = nullptr,
                       DWORD outputSize = 0) {
    XcvResult result{FALSE, kSeed, kSeed};
    SetLastError(kSeed);
    result.ok = XcvDataW(xcv, command, input.empty() ? nullptr : input.data(), static_cast<DWORD>(input.size()),
                         output, outputSize, &result.needed, &result.status);
    return result;
  }

  // The spooler's level-2 entry for a port, or null.
  static const PORT_INFO_2W* Find(const std::vector<BYTE>& buffer, DWORD count, const std::wstring& name) {
    const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
      if (ports[i].pPortName && name == ports[i].pPortName) return &ports[i];
    }
    return nullptr;
  }
};

struct AddPortCall {
  HANDLE xcv;
  std::wstring name;
  DWORD status = kSeed;
  BOOL ok = FALSE;
};

DWORD WINAPI RunAddPort(LPVOID context) {
  auto* call = static_cast<AddPortCall*>(context);
  std::vector<uint8_t> input = NameInput(call->name);
  DWORD needed = 0;
  call->ok = XcvDataW(call->xcv, L"AddPort", input.data(), static_cast<DWORD>(input.size()), nullptr, 0, &needed,
                      &call->status);
  return 0;
}

// "AddPort" asks the spooler's port list, and the spooler asks the monitor's enumeration on the
// same thread while the monitor's lock is held: a second add of the same name then finds it there.
TEST_F(WineSpoolerTest, AddPortReentersTheMonitorsEnumerationWithoutDeadlock) {
  UniquePrinter xcv = OpenXcv(SERVER_ACCESS_ADMINISTER);
  for (DWORD expected : {static_cast<DWORD>(ERROR_SUCCESS), static_cast<DWORD>(ERROR_ALREADY_EXISTS)}) {
    AddPortCall call{xcv.get(), kPort};
    UniqueHandle thread(CreateThread(nullptr, 0, RunAddPort, &call, 0, nullptr));
    ASSERT_EQ(WaitForSingleObject(thread.get(), quil::test::WaitBound(20000)), WAIT_OBJECT_0) << "AddPort did not return";
    EXPECT_TRUE(call.ok);
    EXPECT_EQ(call.status, expected);
  }
  // The other case of the name is the spooler's too.
  EXPECT_EQ(Xcv(xcv.get(), L"AddPort", NameInput(L"qprn[3:0:1]")).status, static_cast<DWORD>(ERROR_ALREADY_EXISTS));
}

TEST_F(WineSpoolerTest, EnumPortsListsTheMonitorsPortsAtBothLevels) {
  UniquePrinter xcv = OpenXcv(SERVER_ACCESS_ADMINISTER);
  ASSERT_EQ(Xcv(xcv.get(), L"AddPort", NameInput(kPort)).status, 0u);

  DWORD cb = kSeed;
  DWORD count = kSeed;
  SetLastError(kSeed);
  EXPECT_FALSE(EnumPortsW(nullptr, 2, nullptr, 0, &cb, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_NE(cb, kSeed);
  ASSERT_GT(cb, 0u);

  std::vector<BYTE> buffer(cb + 1);
  DWORD needed = kSeed;
  count = kSeed;
  SetLastError(kSeed);
  EXPECT_FALSE(EnumPortsW(nullptr, 2, buffer.data(), cb - 1, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(needed, cb);

  for (DWORD size : {cb, cb + 1}) {
    needed = kSeed;
    count = kSeed;
    SetLastError(kSeed);
    ASSERT_TRUE(EnumPortsW(nullptr, 2, buffer.data(), size, &needed, &count)) << "error " << GetLastError();
    EXPECT_EQ(needed, cb);
    const PORT_INFO_2W* port = Find(buffer, count, kPort);
    ASSERT_NE(port, nullptr) << "size " << size;
    EXPECT_STREQ(port->pMonitorName, kMonitorName);
    EXPECT_STREQ(port->pDescription, kMonitorName);
    EXPECT_EQ(port->fPortType & PORT_TYPE_WRITE, static_cast<DWORD>(PORT_TYPE_WRITE));
  }

  ASSERT_EQ(Xcv(xcv.get(), L"RemovePort", NameInput(kPort)).status, 0u);
  needed = 0;
  EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
  std::vector<BYTE> after(needed);
  ASSERT_TRUE(EnumPortsW(nullptr, 2, after.data(), needed, &needed, &count));
  EXPECT_EQ(Find(after, count, kPort), nullptr) << "a removed port is not listed";
}

TEST_F(WineSpoolerTest, XcvCommandsAnswerThroughTheSpooler) {
  UniquePrinter xcv = OpenXcv(SERVER_ACCESS_ADMINISTER);
  EXPECT_EQ(Xcv(xcv.get(), L"RemovePort", NameInput(kPort)).status, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Xcv(xcv.get(), L"AddPort", NameInput(kPort)).status, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(Xcv(xcv.get(), L"addport", NameInput(L"QPRN[3:1:2]")).status,
            static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A name without its NUL inside the stated size.
  std::vector<uint8_t> noNul = NameInput(L"QPRN[3:1:2]");
  noNul.resize(noNul.size() - 2);
  EXPECT_EQ(Xcv(xcv.get(), L"AddPort", noNul).status, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(Xcv(xcv.get(), L"RemovePort", NameInput(kPort)).status, static_cast<DWORD>(ERROR_SUCCESS));
}

TEST_F(WineSpoolerTest, MonitorUINamesTheInstalledModule) {
  UniquePrinter xcv = OpenXcv(SERVER_ACCESS_ADMINISTER);
  const std::wstring installed = SystemFolder() + L"\\QPortMonitor.dll";
  const DWORD cb = static_cast<DWORD>((installed.size() + 1) * sizeof(wchar_t));
  std::vector<BYTE> output(cb + 1);
  XcvResult result = Xcv(xcv.get(), L"MonitorUI", {}, output.data(), cb - 1);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.status, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(result.needed, cb);
  for (DWORD size : {cb, cb + 1}) {
    result = Xcv(xcv.get(), L"MonitorUI", {}, output.data(), size);
    EXPECT_EQ(result.status, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(result.needed, cb);
    EXPECT_EQ(lstrcmpiW(reinterpret_cast<const wchar_t*>(output.data()), installed.c_str()), 0);
  }
}

TEST_F(WineSpoolerTest, CommandsThatChangeStateNeedTheAdministerRight) {
  UniquePrinter user = OpenXcv(SERVER_ACCESS_ENUMERATE);
  EXPECT_EQ(Xcv(user.get(), L"AddPort", NameInput(kPort)).status, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  std::vector<BYTE> output(2 * MAX_PATH);
  EXPECT_EQ(Xcv(user.get(), L"MonitorUI", {}, output.data(), static_cast<DWORD>(output.size())).status,
            static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(MonitorLibrary, ExportsTheMonitorEntryPointsUndecorated) {
  const UniqueModule library(LoadLibraryW(QUIL_MONITOR_DLL));
  ASSERT_TRUE(library);
  for (const char* name : {"InitializePrintMonitor2", "InitializePrintMonitorUI"}) {
    EXPECT_NE(GetProcAddress(library.get(), name), nullptr) << name;
  }
  for (const char* decorated : {"InitializePrintMonitor2@8", "_InitializePrintMonitor2@8", "InitializePrintMonitorUI@0"}) {
    EXPECT_EQ(GetProcAddress(library.get(), decorated), nullptr) << decorated;
  }
}

// The table's stated size follows the version the system reports: one entry point less on
// version 5.0. Under QUIL_EXPECT_VERSION_50 the process must be one that the system reports as 5.0.
TEST(MonitorTableProbe, SizeFollowsTheReportedVersion) {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExW(&version));
  const bool version50 = version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
  if (GetEnvironmentVariableW(L"QUIL_EXPECT_VERSION_50", nullptr, 0)) {
    ASSERT_TRUE(version50) << version.dwMajorVersion << "." << version.dwMinorVersion;
  }
  const UniqueModule library(LoadLibraryW(QUIL_MONITOR_DLL));
  ASSERT_TRUE(library);
  using Initialize = LPMONITOR2(WINAPI*)(PMONITORINIT, PHANDLE);
  const auto initialize =
      reinterpret_cast<Initialize>(reinterpret_cast<void*>(GetProcAddress(library.get(), "InitializePrintMonitor2")));
  ASSERT_NE(initialize, nullptr);
  MONITORINIT init{};
  HANDLE monitor = nullptr;
  const MONITOR2* table = initialize(&init, &monitor);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->cbSize, version50 ? kMonitor2SizeVersion50 : kMonitor2Size);
}

// Runs the probe above in a copy of this executable that Wine reports as Windows 2000.
TEST(MonitorLibrary, StatesTheShorterTableOnVersion50) {
  wchar_t self[MAX_PATH] = {};
  wchar_t temp[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring probeName = L"quil_version50_probe.exe";
  const std::wstring probe = std::wstring(temp) + probeName;
  ASSERT_TRUE(CopyFileW(self, probe.c_str(), FALSE));
  const std::wstring key = L"Software\\Wine\\AppDefaults\\" + probeName;
  HKEY appKey = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &appKey, nullptr),
            ERROR_SUCCESS);
  const wchar_t version[] = L"win2k";
  RegSetValueExW(appKey, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
  RegCloseKey(appKey);

  SetEnvironmentVariableW(L"QUIL_EXPECT_VERSION_50", L"1");
  std::wstring command = L"\"" + probe + L"\" --gtest_filter=MonitorTableProbe.*";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(probe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process);
  SetEnvironmentVariableW(L"QUIL_EXPECT_VERSION_50", nullptr);
  ASSERT_TRUE(started) << "error " << GetLastError();
  const UniqueHandle processHandle(process.hProcess);
  const UniqueHandle threadHandle(process.hThread);
  ASSERT_EQ(WaitForSingleObject(process.hProcess, quil::test::WaitBound(30000)), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  DeleteFileW(probe.c_str());
  EXPECT_EQ(exitCode, 0u) << "the probe failed in a process reported as version 5.0";
}

}  // namespace
}  // namespace quil::test
