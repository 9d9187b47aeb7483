// Install and Uninstall: register and unregister the add-in with the remote-desktop client. Both
// have the shape of Windows Installer custom actions.
#include <windows.h>

#include <msi.h>

#include "AddinModule.h"
#include "UniqueRegistryKey.h"

namespace {

constexpr wchar_t kAddInsKey[] = L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns";
constexpr wchar_t kAddinKey[] =
    L"Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Quillon";
constexpr wchar_t kAddinSubkey[] = L"Quillon";
constexpr REGSAM kAccess = KEY_READ | KEY_WRITE;

}  // namespace

extern "C" UINT WINAPI Install(MSIHANDLE) {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(quil::AddinModule(), path, MAX_PATH);
  if (length == 0) return GetLastError();
  // A path cut short to fit the buffer would register a file that does not exist.
  if (length >= MAX_PATH) return ERROR_INSTALL_FAILURE;
  quil::UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kAddinKey, 0, nullptr, REG_OPTION_NON_VOLATILE, kAccess,
                      nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return ERROR_INSTALL_FAILURE;
  }
  const DWORD bytes = (length + 1) * sizeof(wchar_t);
  if (RegSetValueExW(key.get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(path), bytes) !=
      ERROR_SUCCESS) {
    return ERROR_INSTALL_FAILURE;
  }
  return ERROR_SUCCESS;
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
