// Messages of the spool channel that carry the fonts a job's pages use and the client lacks, sent
// only to a client that announced kCapFonts (SpoolExtension.h): the server lists the fonts it has
// not asked about before (MSG_FONT_QUERY), the client answers which of them it lacks, and the
// server sends each such font's data (MSG_FONT_DATA), which the client acknowledges by its code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "FontReference.h"
#include "MessageCodes.h"

namespace quil {

// Font data a job may carry in all: the server sends no font past it, the client loads none past
// it. Also the bound of a single font's data.
inline constexpr uint32_t kJobFontBudget = 32 * 1024 * 1024;

// One font reference as it travels: fixed fields, then the face name in 32 UTF-16 units padded
// with NULs (at most 31 of them name the face, so at least one NUL ends it).
struct FontReferenceLayout {
  static constexpr std::size_t kWeight = 0;
  static constexpr std::size_t kItalic = 4;   // 0 or 1
  static constexpr std::size_t kCharset = 8;  // 0 to 255
  static constexpr std::size_t kFaceName = 12;
  static constexpr std::size_t kFaceNameSize = 2 * kFaceNameUnits;
  static constexpr std::size_t kSize = kFaceName + kFaceNameSize;
};
static_assert(FontReferenceLayout::kWeight + 4 == FontReferenceLayout::kItalic);
static_assert(FontReferenceLayout::kItalic + 4 == FontReferenceLayout::kCharset);
static_assert(FontReferenceLayout::kCharset + 4 == FontReferenceLayout::kFaceName);
static_assert(FontReferenceLayout::kSize == 76);

// Font query (server to client): code MSG_FONT_QUERY, the number of references, then the
// references one after another.
struct FontQueryLayout {
  static constexpr std::size_t kCount = 4;
  static constexpr std::size_t kFixedSize = 8;
  static constexpr std::size_t kMaxReferences = CQuilJobFontReferences::kMaxReferences;
};
static_assert(FontQueryLayout::kCount == kMessageCodeSize);
static_assert(FontQueryLayout::kCount + 4 == FontQueryLayout::kFixedSize);

// Its answer (client to server): code MSG_FONT_QUERY, the number of flags, then one byte per
// reference in the query's order: 1 when the client lacks the font, 0 when it has it.
struct FontQueryAnswerLayout {
  static constexpr std::size_t kCount = 4;
  static constexpr std::size_t kFixedSize = 8;
  static constexpr uint8_t kHas = 0;
  static constexpr uint8_t kLacks = 1;
};
static_assert(FontQueryAnswerLayout::kCount == kMessageCodeSize);
static_assert(FontQueryAnswerLayout::kCount + 4 == FontQueryAnswerLayout::kFixedSize);

// Font data (server to client): code MSG_FONT_DATA, the font's reference, data offset, data size;
// then the variable area with the font file's bytes (an sfnt: TrueType, OpenType or a collection).
// Acknowledged by its code alone.
struct FontDataLayout {
  static constexpr std::size_t kReference = 4;
  static constexpr std::size_t kDataOffset = kReference + FontReferenceLayout::kSize;
  static constexpr std::size_t kDataSize = kDataOffset + 4;
  static constexpr std::size_t kFixedSize = kDataSize + 4;
  // The largest font data message: a receiver refuses any longer one before it allocates it.
  static constexpr std::size_t kMaxSize = kFixedSize + kJobFontBudget;
};
static_assert(FontDataLayout::kReference == kMessageCodeSize);
static_assert(FontDataLayout::kDataOffset == 80);
static_assert(FontDataLayout::kFixedSize == 88);

// At most FontQueryLayout::kMaxReferences references, each with a face name of 1 to 31 units.
std::vector<uint8_t> BuildFontQuery(std::span<const FontReference> references);
// `lacking` holds one flag per reference of the query, in its order.
std::vector<uint8_t> BuildFontQueryAnswer(const std::vector<bool>& lacking);
// The answer of a client that could not check its fonts: the code alone, which acknowledges the
// query without flags. The server then sends none of its fonts.
std::vector<uint8_t> BuildFontQueryRefusal();
std::vector<uint8_t> BuildFontData(const FontReference& reference, std::span<const uint8_t> font);
// A font data message made around its font in place, so that a font is never copied on the
// server: the font fills the buffer from kFontDataStart to its end, and CompleteFontData writes
// the fixed part before it (the same bytes as BuildFontData). False, and nothing written, for a
// buffer too short for the fixed part or a font larger than kJobFontBudget.
inline constexpr std::size_t kFontDataStart = FontDataLayout::kFixedSize;
bool CompleteFontData(std::span<uint8_t> message, const FontReference& reference);
std::vector<uint8_t> BuildFontDataAck();

// Each parser returns nullopt for a message with another code, one shorter than it states, a
// count past its bound, a reference with an italic flag other than 0 or 1, a character set past
// 255 or a face name that is empty or has no NUL within its 32 units. Bytes after the stated
// items are ignored, as a later version may append fields.
std::optional<std::vector<FontReference>> ParseFontQuery(std::span<const uint8_t> message);
// Also nullopt unless the answer has exactly `queried` flags, each 0 or 1.
std::optional<std::vector<bool>> ParseFontQueryAnswer(std::span<const uint8_t> answer, std::size_t queried);

struct FontDataMessage {
  FontReference reference;
  std::span<const uint8_t> font;  // a view into the message, found through the data offset
};
// Also nullopt when the data does not lie inside the message or is larger than kJobFontBudget.
std::optional<FontDataMessage> ParseFontData(std::span<const uint8_t> message);

// The font data a job has still room for, kept by each side for its job.
class CQuilFontBudget {
 public:
  explicit CQuilFontBudget(uint32_t limit = kJobFontBudget) : remaining_(limit) {}

  // Takes `size` bytes from the budget; false, and nothing taken, when they are not left.
  bool Take(uint64_t size);
  uint32_t remaining() const { return remaining_; }

 private:
  uint32_t remaining_;
};

}  // namespace quil
