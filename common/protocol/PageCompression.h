// Compressed pages of the spool channel's extension: a page's metafile deflated with zlib, for a
// client that announced kCapCompressedPages. A page that does not shrink travels as MSG_PAGE.
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

}  // namespace quil
