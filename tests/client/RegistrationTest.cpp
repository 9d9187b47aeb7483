// Install and Uninstall of the real add-in: its entry under the remote-desktop client's add-in key.
#include "ClientTestSupport.h"
#include "UniqueRegistryKey.h"

namespace quil::test {
namespace {

constexpr wchar_t kAddInsKey[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";
constexpr wchar_t kAddinKey[] =
    L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Quillon";

using CustomAction = UINT(WINAPI*)(ULONG);

class RegistrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    addin_.reset(LoadLibraryW(AddinPath().c_str()));
    ASSERT_TRUE(addin_);
    install_ = Export("Install");
    uninstall_ = Export("Uninstall");
    ASSERT_TRUE(install_ && uninstall_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kAddInsKey);
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kAddInsKey); }

  CustomAction Export(const char* name) {
    return reinterpret_cast<CustomAction>(
        reinterpret_cast<void*>(GetProcAddress(addin_.get(), name)));
  }
  static bool KeyExists(const wchar_t* path) {
    UniqueRegistryKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
  }

  UniqueModule addin_;
  CustomAction install_ = nullptr;
  CustomAction uninstall_ = nullptr;
};

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
