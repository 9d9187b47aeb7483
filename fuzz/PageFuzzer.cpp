// Parses arbitrary bytes as a page; the metafile must be a view inside the message past its fixed
// part, and must survive being built and parsed again.
#include <algorithm>

#include "FuzzCheck.h"
#include "SpoolMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const std::span<const uint8_t> message(data, size);
  const auto metafile = ParsePage(message);
  if (!metafile) return 0;
  fuzz::Require(fuzz::LiesInside(*metafile, message.subspan(PageLayout::kFixedSize)));
  const auto rebuilt = BuildPage(*metafile);
  const auto reparsed = ParsePage(rebuilt);
  fuzz::Require(reparsed && std::ranges::equal(*reparsed, *metafile));
  return 0;
}
