// Windows' Active Setup entry of the add-in: a component under HKEY_LOCAL_MACHINE whose command
// Windows runs once for each user at that user's next logon, whenever the component's version
// is newer than the one recorded for the user. Without platform calls.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quil {

// The component's key under HKEY_LOCAL_MACHINE.
inline constexpr wchar_t kActiveSetupKey[] =
    L"Software\\Microsoft\\Active Setup\\Installed Components\\{12BB279C-00CD-41B3-B1F2-C038BC46BDF3}";

// A component version: four numbers up to 65535, written "a,b,c,d".
using ActiveSetupVersion = std::array<std::uint16_t, 4>;

// Nothing when the text is not four such numbers separated by commas.
std::optional<ActiveSetupVersion> ParseActiveSetupVersion(std::wstring_view text);
std::wstring FormatActiveSetupVersion(const ActiveSetupVersion& version);

// The version to record next, newer than the recorded one (text as read, possibly empty or
// malformed) so that every user's logon runs the new command, and at least the build's version
// (major, minor, patch).
std::wstring NextActiveSetupVersion(std::wstring_view recorded, std::uint16_t major, std::uint16_t minor,
                                    std::uint16_t patch);

// The per-user commands, run by reg.exe from the system folder (ending without a backslash):
// register the add-in at addinPath for the user, or remove the user's registration.
std::wstring RegisterUserCommand(std::wstring_view systemFolder, std::wstring_view addinPath);
std::wstring UnregisterUserCommand(std::wstring_view systemFolder);

}  // namespace quil
