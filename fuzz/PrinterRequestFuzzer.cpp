// Parses arbitrary bytes as a printer request; a parsed index rebuilds the request's fixed part.
#include <algorithm>

#include "FuzzCheck.h"
#include "PrinterListMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const std::span<const uint8_t> message(data, size);
  if (const auto index = ParsePrinterRequest(message)) {
    const auto rebuilt = BuildPrinterRequest(*index);
    fuzz::Require(std::equal(rebuilt.begin(), rebuilt.end(), message.begin(),
                             message.begin() + PrinterRequestLayout::kSize));
  }
  return 0;
}
