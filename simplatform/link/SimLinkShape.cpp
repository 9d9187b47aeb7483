#include "SimLinkShape.h"

namespace sim {
namespace {

constexpr uint64_t kBitsPerByte = 8;

struct NamedShape {
  std::string_view name;
  SimLinkShape shape;
};

constexpr NamedShape kProfiles[] = {
    {"", {}},
    {"none", {}},
    {"wan", {2'000'000 / kBitsPerByte, 40}},
    {"lan", {100'000'000 / kBitsPerByte, 1}},
};

}  // namespace

std::optional<SimLinkShape> LinkProfile(std::string_view name) {
  for (const NamedShape& profile : kProfiles) {
    if (profile.name == name) return profile.shape;
  }
  return std::nullopt;
}

}  // namespace sim
