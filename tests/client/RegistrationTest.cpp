// Registration of the real add-in: Install and Uninstall write and remove its entry under the
// calling user's remote-desktop client add-in key; InstallForEveryUser and UninstallForEveryUser
// record the Active Setup component whose command does so for each user at the next logon.
#include <string>

#include "ClientTestSupport.h"
#include "QuilVersion.h"
#include "UniqueRegistryKey.h"
#include "WaitBound.h"

namespace quil::test {
namespace {

constexpr wchar_t kAddInsKey[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";
constexpr wchar_t kAddinKey[] =
    L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Quillon";
constexpr wchar_t kComponentKey[] =
    L"Software\\Microsoft\\Active Setup\\Installed Components\\{12BB279C-00CD-41B3-B1F2-C038BC46BDF3}";
constexpr REGSAM kNativeView = KEY_WOW64_64KEY;

using CustomAction = UINT(WINAPI*)(ULONG);

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addin_.reset(LoadLibraryW(AddinPath().c_str()));
    ASSERT_TRUE(addin_);
    install_ = Export("Install");
    uninstall_ = Export("Uninstall");
    installForEveryUser_ = Export("InstallForEveryUser");
    uninstallForEveryUser_ = Export("UninstallForEveryUser");
    ASSERT_TRUE(install_ && uninstall_ && installForEveryUser_ && uninstallForEveryUser_);
    RemoveRegistrations();
  }
  void TearDown() override { RemoveRegistrations(); }
  static void RemoveRegistrations() {
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddInsKey);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, kNativeView, 0);
  }

  CustomAction Export(const char* name) {
    return reinterpret_cast<CustomAction>(
        reinterpret_cast<void*>(GetProcAddress(addin_.get(), name)));
  }
  static bool KeyExists(const wchar_t* path) {
    UniqueRegistryKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }

  // A string value of the Active Setup component; empty when there is none.
  static std::wstring ComponentValue(const wchar_t* name) {
    UniqueRegistryKey key;
    wchar_t value[1024] = {};
    DWORD bytes = sizeof(value) - sizeof(wchar_t);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, 0, KEY_READ | kNativeView, key.put()) == ERROR_SUCCESS) {
      RegGetValueW(key.get(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &bytes);
    }
    return value;
  }
  static void RecordComponentVersion(const std::wstring& version) {
    UniqueRegistryKey key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, 0, nullptr, 0, KEY_WRITE | kNativeView, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                             static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
  }
  // Runs the component's command as Windows runs it at a user's logon, to its end.
  static DWORD RunComponentCommand() {
    std::wstring command = ComponentValue(L"StubPath");
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process)) {
      return GetLastError();
    }
    UniqueHandle thread(process.hThread), running(process.hProcess);
    WaitForSingleObject(running.get(), quil::test::WaitBound(30000));
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(running.get(), &exitCode);
    return exitCode;
  }
  std::wstring RegisteredAddinPath() {
    wchar_t path[MAX_PATH + 1] = {};
    DWORD bytes = sizeof(path) - sizeof(wchar_t);
    RegGetValueW(HKEY_CURRENT_USER, kAddinKey, L"Name", RRF_RT_REG_SZ, nullptr, path, &bytes);
    return path;
  }
  std::wstring AddinFile() {
    wchar_t path[MAX_PATH];
    return std::wstring(path, GetModuleFileNameW(addin_.get(), path, MAX_PATH));
  }
  static std::wstring SystemFolder() {
    wchar_t folder[MAX_PATH];
    return std::wstring(folder, GetSystemDirectoryW(folder, MAX_PATH));
  }

  UniqueModule addin_;
  CustomAction install_ = nullptr;
  CustomAction uninstall_ = nullptr;
  CustomAction installForEveryUser_ = nullptr;
  CustomAction uninstallForEveryUser_ = nullptr;
};

std::wstring Version(unsigned a, unsigned b, unsigned c, unsigned d) {
  return std::to_wstring(a) + L"," + std::to_wstring(b) + L"," + std::to_wstring(c) + L"," + std::to_wstring(d);
}

// What Windows runs at each user's next logon: after an installation the command that registers
// the add-in for that user, after a removal, under a newer version, the one that removes it.
TEST_F(RegistrationTest, EveryUserGetsTheAddinAtTheNextLogonAndLosesItAfterTheRemoval) {
  ASSERT_EQ(installForEveryUser_(0), 0u);
  EXPECT_EQ(ComponentValue(nullptr), L"Quillon Client");
  UniqueRegistryKey component;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, 0, KEY_READ | kNativeView, component.put()),
            ERROR_SUCCESS);
  DWORD installed = 0;
  DWORD bytes = sizeof(installed);
  EXPECT_EQ(RegGetValueW(component.get(), nullptr, L"IsInstalled", RRF_RT_REG_DWORD, nullptr, &installed, &bytes),
            ERROR_SUCCESS);
  EXPECT_EQ(installed, 1u);
  const std::wstring reg = L"\"" + SystemFolder() + L"\\reg.exe\" ";
  const std::wstring key = L"\"HKCU\\" + std::wstring(kAddinKey) + L"\"";
  EXPECT_EQ(ComponentValue(L"StubPath"), reg + L"add " + key + L" /v Name /t REG_SZ /d \"" + AddinFile() + L"\" /f");
  const std::wstring installVersion = ComponentValue(L"Version");
  EXPECT_EQ(installVersion, Version(QUIL_VERSION_MAJOR, QUIL_VERSION_MINOR, QUIL_VERSION_PATCH, 1));
  EXPECT_EQ(RunComponentCommand(), 0u);
  EXPECT_EQ(RegisteredAddinPath(), AddinFile());

  ASSERT_EQ(uninstallForEveryUser_(0), 0u);
  EXPECT_EQ(ComponentValue(L"StubPath"), reg + L"delete " + key + L" /f");
  EXPECT_EQ(ComponentValue(L"Version"), Version(QUIL_VERSION_MAJOR, QUIL_VERSION_MINOR, QUIL_VERSION_PATCH, 2));
  EXPECT_EQ(RunComponentCommand(), 0u);
  EXPECT_EQ(RegisteredAddinPath(), L"");
}

// Each recording is newer than the one before, whatever recorded it, and at least this build's
// version: a user whose logon ran the removal runs the registration of a later installation.
TEST_F(RegistrationTest, EveryRecordingOfTheComponentIsNewerThanTheOneBefore) {
  const unsigned major = QUIL_VERSION_MAJOR, minor = QUIL_VERSION_MINOR, patch = QUIL_VERSION_PATCH;
  const struct {
    std::wstring recorded, next;
  } cases[] = {
      {Version(major, minor, patch, 2), Version(major, minor, patch, 3)},  // after a removal of this build
      {Version(65535, 0, 0, 0), Version(65535, 0, 0, 1)},                  // by a later build
      {L"0,0,0,9", Version(major, minor, patch, 1)},                       // by an earlier build
      {Version(major, minor, patch, 65535), Version(major, minor, patch + 1, 0)},
      {L"1,2,3", Version(major, minor, patch, 1)},  // not a version: as if there were none
      {L"1,2,3,4,5", Version(major, minor, patch, 1)},
      {L"1,2,x,4", Version(major, minor, patch, 1)},
  };
  for (const auto& recorded : cases) {
    for (CustomAction record : {installForEveryUser_, uninstallForEveryUser_}) {
      RecordComponentVersion(recorded.recorded);
      EXPECT_EQ(record(0), 0u);
      EXPECT_EQ(ComponentValue(L"Version"), recorded.next);
    }
  }
}

TEST_F(RegistrationTest, UninstallForEveryUserWithoutTheComponentHasNothingToDo) {
  EXPECT_EQ(uninstallForEveryUser_(0), 0u);
  UniqueRegistryKey key;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kComponentKey, 0, KEY_READ | kNativeView, key.put()),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistrationTest, InstallTwiceLeavesOneNameHoldingTheAddinsPath) {
  EXPECT_EQ(install_(0), 0u);
  EXPECT_EQ(install_(0xdeadbeef), 0u);
  UniqueRegistryKey key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kAddinKey, 0, KEY_READ, key.put()), ERROR_SUCCESS);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 1u);
  wchar_t path[MAX_PATH + 1] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(path) - sizeof(wchar_t);
  ASSERT_EQ(RegQueryValueExW(key.get(), L"Name", nullptr, &type, reinterpret_cast<BYTE*>(path),
                             &bytes),
            ERROR_SUCCESS);
  wchar_t expected[MAX_PATH];
  const DWORD length = GetModuleFileNameW(addin_.get(), expected, MAX_PATH);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(bytes, (length + 1) * sizeof(wchar_t)) << "the terminating NUL is stored";
  EXPECT_EQ(std::wstring(path), std::wstring(expected, length));
}

TEST_F(RegistrationTest, UninstallRemovesTheAddinsKeyOnly) {
  ASSERT_EQ(install_(0), 0u);
  EXPECT_EQ(uninstall_(0), 0u);
  EXPECT_FALSE(KeyExists(kAddinKey));
  EXPECT_TRUE(KeyExists(kAddInsKey));
}

TEST_F(RegistrationTest, UninstallWithoutTheAddInsKeyHasNothingToDo) {
  ASSERT_FALSE(KeyExists(kAddInsKey));
  EXPECT_EQ(uninstall_(0), 0u);
}

TEST_F(RegistrationTest, UninstallWhenTheAddinWasNeverInstalledHasNothingToDo) {
  UniqueRegistryKey addIns;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kAddInsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            addIns.put(), nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(uninstall_(0), 0u);
  EXPECT_TRUE(KeyExists(kAddInsKey));
}

}  // namespace
}  // namespace quil::test
