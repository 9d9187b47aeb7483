#include "XcvPortName.h"

#include "MessageReader.h"

namespace quil {

std::optional<std::u16string> ParseXcvPortName(std::span<const uint8_t> input) {
  auto name = CQuilMessageReader(input).String(0);
  if (!name || name->empty()) return std::nullopt;
  return name;
}

}  // namespace quil
