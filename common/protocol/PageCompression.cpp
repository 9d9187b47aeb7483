#include "PageCompression.h"

#include <zlib.h>

#include "MessageReader.h"
#include "MessageWriter.h"

namespace quil {
namespace {

void PutU32(std::vector<uint8_t>& message, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) message[position + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool BuildCompressedPage(std::span<const uint8_t> metafile, int level, std::vector<uint8_t>& message) {
  using Layout = CompressedPageLayout;
  if (metafile.empty() || metafile.size() > kMaxCompressedPageMetafile) return false;
  const auto size = static_cast<uLong>(metafile.size());
  // Only a result shorter than the page is worth sending: the buffer ends there.
  message.resize(Layout::kFixedSize + metafile.size() - 1);
  auto compressedSize = static_cast<uLongf>(metafile.size() - 1);
  if (compress2(message.data() + Layout::kFixedSize, &compressedSize, metafile.data(), size, level) != Z_OK) {
    return false;
  }
  message.resize(Layout::kFixedSize + compressedSize);
  PutU32(message, kMessageCodeOffset, MSG_COMPRESSED_PAGE);
  PutU32(message, Layout::kMetafileSize, static_cast<uint32_t>(metafile.size()));
  PutU32(message, Layout::kDataSize, static_cast<uint32_t>(compressedSize));
  return true;
}

bool InflateCompressedPage(std::span<const uint8_t> message, std::vector<uint8_t>& metafile) {
  using Layout = CompressedPageLayout;
  metafile.clear();
  const CQuilMessageReader reader(message);
  const auto metafileSize = reader.U32(Layout::kMetafileSize);
  const auto dataSize = reader.U32(Layout::kDataSize);
  if (reader.U32(kMessageCodeOffset) != MSG_COMPRESSED_PAGE || !metafileSize || !dataSize) return false;
  const auto data = reader.Bytes(Layout::kFixedSize, *dataSize);
  if (!data || *metafileSize == 0 || *metafileSize > kMaxCompressedPageMetafile ||
      *metafileSize > kMaxInflationRatio * *dataSize) {
    return false;
  }
  metafile.resize(*metafileSize);
  auto inflatedSize = static_cast<uLongf>(*metafileSize);
  auto consumed = static_cast<uLong>(*dataSize);
  // uncompress2 fails with Z_BUF_ERROR for data that would inflate to more than announced, and
  // reports through `consumed` how much of the data one whole stream took.
  const bool whole = uncompress2(metafile.data(), &inflatedSize, data->data(), &consumed) == Z_OK &&
                     inflatedSize == *metafileSize && consumed == *dataSize;
  if (!whole) metafile.clear();
  return whole;
}

std::vector<uint8_t> BuildCompressedPageAck() {
  return CQuilMessageWriter(MSG_COMPRESSED_PAGE, kCodeOnlyMessageSize).Take();
}

}  // namespace quil
