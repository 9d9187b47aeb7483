#include "JobDevMode.h"

#include <algorithm>

#include "MessageReader.h"

namespace quil {

DevModeBlock DevModeBlockOf(std::span<const uint8_t> devMode) {
  DevModeBlock block{};
  const auto declared = CQuilMessageReader(devMode).U16(DevModeLayout::kSize);
  if (!declared) return block;
  const std::size_t count = std::min({std::size_t{*declared}, block.size(), devMode.size()});
  std::copy_n(devMode.begin(), count, block.begin());
  return block;
}

}  // namespace quil
