// Registration of the add-in with the remote-desktop client, all four exports in the shape of
// Windows Installer custom actions. Install and Uninstall register and unregister it for the
// calling user. InstallForEveryUser and UninstallForEveryUser record in Windows' Active Setup the
// command that registers it, or removes the registration, for each user at that user's next
// logon: the remote-desktop client reads its add-ins only from the user's own hive.
#include <windows.h>

#include <msi.h>

#include <string>

#include "ActiveSetup.h"
#include "AddinModule.h"
#include "QuilVersion.h"
#include "UniqueRegistryKey.h"

namespace {

constexpr wchar_t kAddInsKey[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";
constexpr wchar_t kAddinKey[] =
    L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Quillon";
constexpr wchar_t kAddinSubkey[] = L"Quillon";
constexpr wchar_t kComponentName[] = L"Quillon Client";
constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;

// The add-in's own path: ERROR_SUCCESS, or the code that Install returns.
UINT AddinPath(std::wstring& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetModuleFileNameW(quil::AddinModule(), buffer, MAX_PATH);
  if (length == 0) return GetLastError();
  // A path cut short to fit the buffer would register a file that does not exist.
  if (length >= MAX_PATH) return ERROR_INSTALL_FAILURE;
  path.assign(buffer, length);
  return ERROR_SUCCESS;
}

bool SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
         ERROR_SUCCESS;
}

// A string value; empty when it is missing, of another type or too long for a version.
std::wstring GetShortString(HKEY key, const wchar_t* name) {
  wchar_t value[64] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(value) - sizeof(wchar_t);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  return value;  // the buffer's last character stays NUL
}

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(folder, length);
}

// The Active Setup component lives in the machine's native registry view, which Windows reads for
// the add-ins of either bitness.
constexpr REGSAM kComponentAccess = kAccess | KEY_WOW64_64KEY;

// Records the per-user command under a version newer than the recorded one, written last so that
// Windows never runs an earlier command under the new version.
bool RecordComponent(HKEY key, const std::wstring& command) {
  const std::wstring version = quil::NextActiveSetupVersion(GetShortString(key, L"Version"), QUIL_VERSION_MAJOR,
                                                            QUIL_VERSION_MINOR, QUIL_VERSION_PATCH);
  const DWORD installed = 1;
  return SetString(key, nullptr, kComponentName) && SetString(key, L"StubPath", command) &&
         RegSetValueExW(key, L"IsInstalled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&installed),
                        sizeof(installed)) == ERROR_SUCCESS &&
         SetString(key, L"Version", version);
}

}  // namespace

extern "C" UINT WINAPI Install(MSIHANDLE) {
  try {
    std::wstring path;
    if (const UINT result = AddinPath(path); result != ERROR_SUCCESS) return result;
    quil::UniqueRegistryKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kAddinKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess, nullptr,
                        key.put(), nullptr) != ERROR_SUCCESS ||
        !SetString(key.get(), L"Name", path)) {
      return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

extern "C" UINT WINAPI Uninstall(MSIHANDLE) {
  quil::UniqueRegistryKey addIns;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kAddInsKey, 0, kAccess, addIns.put()) != ERROR_SUCCESS) {
    return ERROR_SUCCESS;  // nothing was ever registered
  }
  const LSTATUS deleted = RegDeleteKeyW(addIns.get(), kAddinSubkey);
  // No Quillon key under the add-ins key: nothing to remove.
  return deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS
                                                                      : ERROR_INSTALL_FAILURE;
}

extern "C" UINT WINAPI InstallForEveryUser(MSIHANDLE) {
  try {
    std::wstring path;
    const std::wstring system = SystemFolder();
    quil::UniqueRegistryKey component;
    if (AddinPath(path) != ERROR_SUCCESS || system.empty() ||
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, quil::kActiveSetupKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        kComponentAccess, nullptr, component.put(), nullptr) != ERROR_SUCCESS ||
        !RecordComponent(component.get(), quil::RegisterUserCommand(system, path))) {
      return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}

// Without a component no user was given the add-in through Active Setup: nothing to undo.
extern "C" UINT WINAPI UninstallForEveryUser(MSIHANDLE) {
  try {
    const std::wstring system = SystemFolder();
    quil::UniqueRegistryKey component;
    const LSTATUS opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, quil::kActiveSetupKey, 0, kComponentAccess, component.put());
    if (opened == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (opened != ERROR_SUCCESS || system.empty() || !RecordComponent(component.get(), quil::UnregisterUserCommand(system))) {
      return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
  } catch (...) {
    return ERROR_INSTALL_FAILURE;
  }
}
