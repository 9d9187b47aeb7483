// Reading a font's data on the server through GDI, to send it to a client that lacks the font.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FontReference.h"

namespace quil {

enum class FontDataResult {
  kRead,
  kNotInstalled,  // GDI maps the reference to a face of another name: a substitute is never read
  kTooLarge,      // larger than allowed: nothing allocated, nothing read
  kFailed,        // the font could not be created, selected or read, or memory ran out
};

struct FontDataRead {
  FontDataResult result;
  uint32_t size;  // the font's size in bytes where GDI stated it, else 0
};

// Reads the whole file of the font that GDI maps `reference` to, a TrueType collection as the
// whole collection, provided the selected face carries the reference's name. The bytes go into
// `data` after its first `offset` bytes, whose values are then unspecified: room for the fixed part
// of a font data message, so that the font is never copied (CompleteFontData in FontMessages.h).
// A font of more than `maxSize` bytes is not read. Whether the font may be sent is for the caller
// to check (CheckFontEmbedding in SfntFont.h).
FontDataRead ReadFontData(const FontReference& reference, uint32_t maxSize, std::vector<uint8_t>& data,
                          std::size_t offset = 0);

}  // namespace quil
