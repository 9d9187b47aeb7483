#include "ActiveSetup.h"

#include <algorithm>
#include <limits>

namespace quil {
namespace {

// The add-in's key under each user's HKEY_CURRENT_USER, as reg.exe names it.
constexpr std::wstring_view kUserAddinKey =
    L"\"HKCU\\Software\\Microsoft\\Terminal Server Client\\Default\\AddIns\\Quillon\"";
constexpr std::uint16_t kMaxPart = std::numeric_limits<std::uint16_t>::max();

std::optional<std::uint16_t> ParsePart(std::wstring_view text) {
  if (text.empty() || text.size() > 5) return std::nullopt;
  unsigned value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - L'0');
  }
  if (value > kMaxPart) return std::nullopt;
  return static_cast<std::uint16_t>(value);
}

std::wstring RegCommand(std::wstring_view systemFolder, std::wstring_view arguments) {
  return L"\"" + std::wstring(systemFolder) + L"\\reg.exe\" " + std::wstring(arguments);
}

}  // namespace

std::optional<ActiveSetupVersion> ParseActiveSetupVersion(std::wstring_view text) {
  ActiveSetupVersion version{};
  for (std::size_t i = 0; i < version.size(); ++i) {
    const std::size_t comma = i + 1 < version.size() ? text.find(L',') : text.size();
    if (comma == std::wstring_view::npos) return std::nullopt;
    const std::optional<std::uint16_t> part = ParsePart(text.substr(0, comma));
    if (!part) return std::nullopt;
    version[i] = *part;
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return version;
}

std::wstring FormatActiveSetupVersion(const ActiveSetupVersion& version) {
  std::wstring text;
  for (std::uint16_t part : version) text += (text.empty() ? L"" : L",") + std::to_wstring(part);
  return text;
}

std::wstring NextActiveSetupVersion(std::wstring_view recorded, std::uint16_t major, std::uint16_t minor,
                                    std::uint16_t patch) {
  ActiveSetupVersion next = std::max(ParseActiveSetupVersion(recorded).value_or(ActiveSetupVersion{}),
                                     ActiveSetupVersion{major, minor, patch, 0});
  // One step up; a full last number carries into the ones before it.
  for (std::size_t i = next.size(); i-- > 0;) {
    if (next[i] < kMaxPart) {
      ++next[i];
      break;
    }
    next[i] = 0;
  }
  return FormatActiveSetupVersion(next);
}

std::wstring RegisterUserCommand(std::wstring_view systemFolder, std::wstring_view addinPath) {
  return RegCommand(systemFolder, L"add " + std::wstring(kUserAddinKey) + L" /v Name /t REG_SZ /d \"" +
                                      std::wstring(addinPath) + L"\" /f");
}

std::wstring UnregisterUserCommand(std::wstring_view systemFolder) {
  return RegCommand(systemFolder, L"delete " + std::wstring(kUserAddinKey) + L" /f");
}

}  // namespace quil
