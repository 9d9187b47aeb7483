// Parses arbitrary bytes as a printer-count reply; a parsed count rebuilds the reply's fixed part.
#include <algorithm>

#include "FuzzCheck.h"
#include "PrinterListMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const std::span<const uint8_t> message(data, size);
  if (const auto count = ParsePrinterCountReply(message)) {
    const auto rebuilt = BuildPrinterCountReply(*count);
    fuzz::Require(std::equal(rebuilt.begin(), rebuilt.end(), message.begin(),
                             message.begin() + PrinterCountReplyLayout::kSize));
  }
  return 0;
}
