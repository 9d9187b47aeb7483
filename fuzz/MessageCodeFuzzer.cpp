// Reads the code of arbitrary bytes: present exactly when a whole code fits.
#include "FuzzCheck.h"
#include "MessageCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const std::span<const uint8_t> message(data, size);
  const auto code = ReadMessageCode(message);
  fuzz::Require(code.has_value() == (size >= kMessageCodeSize));
  if (code) fuzz::Require(IsMessage(message, *code));
  return 0;
}
