#include "MessageBounds.h"

#include "FontMessages.h"
#include "MessageCodes.h"
#include "PageCompression.h"

namespace quil {

uint32_t ServerMessageBound(std::span<const uint8_t> start) {
  const auto code = ReadMessageCode(start);
  if (!code) return static_cast<uint32_t>(start.size());
  switch (*code) {
    case MSG_FONT_DATA:
      return static_cast<uint32_t>(FontDataLayout::kMaxSize);
    case MSG_COMPRESSED_FONT_DATA:
      return static_cast<uint32_t>(CompressedFontDataLayout::kFixedSize + FontDataLayout::kMaxSize);
    default:
      return UINT32_MAX;
  }
}

}  // namespace quil
