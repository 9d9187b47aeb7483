#include "E2eClientOptions.h"

#include <algorithm>
#include <optional>

namespace sim {
namespace {

// Takes the value of an option that needs one; false if none follows.
bool TakeValue(int argc, wchar_t** argv, int& at, std::wstring& value) {
  if (at + 1 >= argc) return false;
  value = argv[++at];
  return true;
}

// Takes the profile and its shape; what is wrong with the name otherwise.
std::optional<std::string> TakeLinkProfile(const std::wstring& profile, E2eClientOptions& options) {
  std::string name;
  for (const wchar_t c : profile) name.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  const auto shape = LinkProfile(name);
  if (!shape) return "--link needs a profile: wan, lan or none";
  options.linkProfile = std::move(name);
  options.linkShape = *shape;
  return std::nullopt;
}

// Splits the arguments into the options' values and the positional ones.
std::variant<std::vector<std::wstring>, std::string> SplitArguments(int argc, wchar_t** argv,
                                                                    E2eClientOptions& options) {
  std::vector<std::wstring> positional;
  for (int at = 1; at < argc; ++at) {
    const std::wstring argument = argv[at];
    if (argument == L"--default") {
      if (!TakeValue(argc, argv, at, options.defaultPrinter)) return "--default needs a printer";
    } else if (argument == L"--addin") {
      if (!TakeValue(argc, argv, at, options.addinPath)) return "--addin needs a path";
    } else if (argument == L"--link") {
      std::wstring profile;
      if (!TakeValue(argc, argv, at, profile)) return "--link needs a profile";
      if (auto error = TakeLinkProfile(profile, options)) return *error;
    } else {
      positional.push_back(argument);
    }
  }
  return positional;
}

// A whole decimal number up to `max`; nullopt for anything else.
std::optional<uint32_t> ParseNumber(const std::wstring& text, uint32_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (const wchar_t digit : text) {
    if (digit < L'0' || digit > L'9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(digit - L'0');
  }
  if (value > max) return std::nullopt;
  return static_cast<uint32_t>(value);
}

}  // namespace

std::variant<E2eClientOptions, std::string> ParseClientOptions(int argc, wchar_t** argv) {
  E2eClientOptions options;
  auto split = SplitArguments(argc, argv, options);
  if (auto* error = std::get_if<std::string>(&split)) return *error;
  auto& positional = std::get<std::vector<std::wstring>>(split);
  if (positional.size() < 4) return "too few arguments";
  const auto port = ParseNumber(positional[0], UINT16_MAX);
  const auto session = ParseNumber(positional[1], UINT32_MAX);
  if (!port || *port == 0) return "bad link port";
  if (!session) return "bad session id";
  options.linkPort = static_cast<uint16_t>(*port);
  options.sessionId = *session;
  options.outputFolder = positional[2];
  options.printers.assign(positional.begin() + 3, positional.end());
  if (std::find(options.printers.begin(), options.printers.end(), options.defaultPrinter) ==
      options.printers.end()) {
    return "--default must name one of the printers";
  }
  return options;
}

}  // namespace sim
