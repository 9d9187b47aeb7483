// Inflates arbitrary bytes as a compressed page: the result is either refused, with nothing kept,
// or exactly the announced size, which compresses and inflates back to itself.
#include "FuzzCheck.h"
#include "PageCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  std::vector<uint8_t> metafile;
  if (!InflateCompressedPage({data, size}, metafile)) {
    fuzz::Require(metafile.empty());
    return 0;
  }
  fuzz::Require(size >= CompressedPageLayout::kFixedSize && !metafile.empty());
  fuzz::Require(metafile.size() == (data[4] | data[5] << 8 | data[6] << 16 | uint32_t{data[7]} << 24));
  std::vector<uint8_t> message;
  std::vector<uint8_t> again;
  if (BuildCompressedPage(metafile, kPageCompressionLevel, message)) {
    fuzz::Require(message.size() < CompressedPageLayout::kFixedSize + metafile.size());
    fuzz::Require(InflateCompressedPage(message, again) && again == metafile);
  }
  return 0;
}
