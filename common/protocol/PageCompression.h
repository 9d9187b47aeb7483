// Compressed messages of the spool channel's extension, for a client that announced
// kCapCompressedPages: a page's metafile deflated with zlib, and a whole font data message
// deflated the same way. What does not shrink travels uncompressed (MSG_PAGE, MSG_FONT_DATA).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "MessageCodes.h"

namespace quil {

// Compressed page (server to client): code MSG_COMPRESSED_PAGE, the metafile's size, the size of
// the compressed data; then the zlib stream (RFC 1950) of the metafile, exactly that long.
// Acknowledged by its code alone.
struct CompressedPageLayout {
  static constexpr std::size_t kMetafileSize = 4;
  static constexpr std::size_t kDataSize = 8;
  static constexpr std::size_t kFixedSize = 12;
};
static_assert(CompressedPageLayout::kMetafileSize == kMessageCodeSize);
static_assert(CompressedPageLayout::kMetafileSize + 4 == CompressedPageLayout::kDataSize);
static_assert(CompressedPageLayout::kDataSize + 4 == CompressedPageLayout::kFixedSize);

// The largest metafile a compressed page may announce; a client refuses a larger one before it
// allocates anything. zlib cannot expand data more than about 1032 times, so an announcement
// beyond that for the data's size is refused as well.
inline constexpr uint32_t kMaxCompressedPageMetafile = 512u * 1024 * 1024;
inline constexpr uint64_t kMaxInflationRatio = 1032;

// The level the server compresses pages with: zlib's fastest, which keeps up with a link of
// hundreds of Mbit/s on one core and saves most of what the default level saves on a slow link,
// for a third of the server's CPU time.
inline constexpr int kPageCompressionLevel = 1;

// Compresses `metafile` at `level` into `message` (its storage reused across pages) as a whole
// MSG_COMPRESSED_PAGE message. False when the page would not shrink (or cannot be compressed):
// the caller then sends it as MSG_PAGE.
bool BuildCompressedPage(std::span<const uint8_t> metafile, int level, std::vector<uint8_t>& message);

// The metafile of a MSG_COMPRESSED_PAGE message, inflated into `metafile` (its storage reused
// across pages). False, with `metafile` empty, for another code, a message shorter than its
// fixed part or than its data, an announced size past the bounds above, or data that does not
// inflate to exactly the announced size with nothing left over.
bool InflateCompressedPage(std::span<const uint8_t> message, std::vector<uint8_t>& metafile);

std::vector<uint8_t> BuildCompressedPageAck();

// Compressed font data (server to client): code MSG_COMPRESSED_FONT_DATA, the size of the font
// data message it holds, the size of the compressed data; then the zlib stream of that whole
// MSG_FONT_DATA message (FontMessages.h), exactly that long. Acknowledged by its code alone.
struct CompressedFontDataLayout {
  static constexpr std::size_t kMessageSize = 4;
  static constexpr std::size_t kDataSize = 8;
  static constexpr std::size_t kFixedSize = 12;
};
static_assert(CompressedFontDataLayout::kMessageSize == kMessageCodeSize);
static_assert(CompressedFontDataLayout::kMessageSize + 4 == CompressedFontDataLayout::kDataSize);
static_assert(CompressedFontDataLayout::kDataSize + 4 == CompressedFontDataLayout::kFixedSize);

// Compresses the font data message `fontData` at `level` into `message` as a whole
// MSG_COMPRESSED_FONT_DATA message. False when it would not shrink: the caller then sends
// `fontData` itself.
bool BuildCompressedFontData(std::span<const uint8_t> fontData, int level, std::vector<uint8_t>& message);

// The font data message that a MSG_COMPRESSED_FONT_DATA message holds, inflated into `fontData`.
// False, with `fontData` empty, as for a compressed page, and for an announced size past
// `maxSize`, checked before allocating. Whether the result is a font data message is for the
// caller to check (ParseFontData).
bool InflateCompressedFontData(std::span<const uint8_t> message, uint32_t maxSize, std::vector<uint8_t>& fontData);

std::vector<uint8_t> BuildCompressedFontDataAck();

}  // namespace quil
