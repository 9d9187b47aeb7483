#include "PageCompression.h"

#include <zlib.h>

#include <algorithm>

#include "FontMessages.h"
#include "MessageReader.h"
#include "MessageWriter.h"

namespace quil {
namespace {

void PutU32(std::vector<uint8_t>& message, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) message[position + i] = static_cast<uint8_t>(value >> (8 * i));
}

// Both compressed messages: the code, the size of what was compressed, the compressed size, the
// zlib stream.
static_assert(CompressedPageLayout::kMetafileSize == CompressedFontDataLayout::kMessageSize);
static_assert(CompressedPageLayout::kDataSize == CompressedFontDataLayout::kDataSize);
static_assert(CompressedPageLayout::kFixedSize == CompressedFontDataLayout::kFixedSize);
using Layout = CompressedPageLayout;

bool Deflate(uint32_t code, std::span<const uint8_t> content, uint32_t maxContent, int level,
             std::vector<uint8_t>& message) {
  if (content.empty() || content.size() > maxContent) return false;
  const auto size = static_cast<uLong>(content.size());
  // Only a result shorter than the content is worth sending: the buffer ends there.
  message.resize(Layout::kFixedSize + content.size() - 1);
  auto compressedSize = static_cast<uLongf>(content.size() - 1);
  if (compress2(message.data() + Layout::kFixedSize, &compressedSize, content.data(), size, level) != Z_OK) {
    return false;
  }
  message.resize(Layout::kFixedSize + compressedSize);
  PutU32(message, kMessageCodeOffset, code);
  PutU32(message, Layout::kMetafileSize, static_cast<uint32_t>(content.size()));
  PutU32(message, Layout::kDataSize, static_cast<uint32_t>(compressedSize));
  return true;
}

bool Inflate(uint32_t code, uint32_t maxContent, std::span<const uint8_t> message, std::vector<uint8_t>& content) {
  content.clear();
  const CQuilMessageReader reader(message);
  const auto contentSize = reader.U32(Layout::kMetafileSize);
  const auto dataSize = reader.U32(Layout::kDataSize);
  if (reader.U32(kMessageCodeOffset) != code || !contentSize || !dataSize) return false;
  const auto data = reader.Bytes(Layout::kFixedSize, *dataSize);
  if (!data || *contentSize == 0 || *contentSize > maxContent || *contentSize > kMaxInflationRatio * *dataSize) {
    return false;
  }
  content.resize(*contentSize);
  auto inflatedSize = static_cast<uLongf>(*contentSize);
  auto consumed = static_cast<uLong>(*dataSize);
  // uncompress2 fails with Z_BUF_ERROR for data that would inflate to more than announced, and
  // reports through `consumed` how much of the data one whole stream took.
  const bool whole = uncompress2(content.data(), &inflatedSize, data->data(), &consumed) == Z_OK &&
                     inflatedSize == *contentSize && consumed == *dataSize;
  if (!whole) content.clear();
  return whole;
}

}  // namespace

bool BuildCompressedPage(std::span<const uint8_t> metafile, int level, std::vector<uint8_t>& message) {
  return Deflate(MSG_COMPRESSED_PAGE, metafile, kMaxCompressedPageMetafile, level, message);
}

bool InflateCompressedPage(std::span<const uint8_t> message, std::vector<uint8_t>& metafile) {
  return Inflate(MSG_COMPRESSED_PAGE, kMaxCompressedPageMetafile, message, metafile);
}

std::vector<uint8_t> BuildCompressedPageAck() {
  return CQuilMessageWriter(MSG_COMPRESSED_PAGE, kCodeOnlyMessageSize).Take();
}

bool BuildCompressedFontData(std::span<const uint8_t> fontData, int level, std::vector<uint8_t>& message) {
  return Deflate(MSG_COMPRESSED_FONT_DATA, fontData, FontDataLayout::kMaxSize, level, message);
}

bool InflateCompressedFontData(std::span<const uint8_t> message, uint32_t maxSize, std::vector<uint8_t>& fontData) {
  const auto bound = static_cast<uint32_t>(std::min<std::size_t>(maxSize, FontDataLayout::kMaxSize));
  return Inflate(MSG_COMPRESSED_FONT_DATA, bound, message, fontData);
}

std::vector<uint8_t> BuildCompressedFontDataAck() {
  return CQuilMessageWriter(MSG_COMPRESSED_FONT_DATA, kCodeOnlyMessageSize).Take();
}

}  // namespace quil
