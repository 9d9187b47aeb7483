#include "MessageCodes.h"

#include "MessageReader.h"

namespace quil {

std::optional<uint32_t> ReadMessageCode(std::span<const uint8_t> message) {
  return CQuilMessageReader(message).U32(kMessageCodeOffset);
}

bool IsMessage(std::span<const uint8_t> message, uint32_t code) {
  return ReadMessageCode(message) == code;
}

}  // namespace quil
