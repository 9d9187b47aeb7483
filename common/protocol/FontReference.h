// The fonts that a page's enhanced metafile names: each EMR_EXTCREATEFONTINDIRECTW record carries
// a LOGFONTW, whose face name, weight, italic flag and character set say which font GDI maps it to.
// A metafile names its fonts but carries none of their data.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace quil {

// A LOGFONTW's face name is at most 32 UTF-16 units, its NUL included (LF_FACESIZE).
inline constexpr std::size_t kFaceNameUnits = 32;

// What identifies a font for GDI's mapping. The face name is 1 to 31 UTF-16 units, without NUL.
struct FontReference {
  std::u16string faceName;
  int32_t weight = 0;  // lfWeight: 0 for the default, 400 regular, 700 bold
  bool italic = false;
  uint8_t charset = 0;  // lfCharSet

  auto operator<=>(const FontReference&) const = default;
};

// Enhanced metafile records, as far as the scan reads them. All integers are little-endian.
struct EmfFontRecordLayout {
  static constexpr std::size_t kType = 0;
  static constexpr std::size_t kSize = 4;  // of the whole record, its head included
  static constexpr std::size_t kHeadSize = 8;
  static constexpr uint32_t kEofRecord = 14;              // EMR_EOF
  static constexpr uint32_t kExtCreateFontRecord = 82;    // EMR_EXTCREATEFONTINDIRECTW
  static constexpr std::size_t kLogFont = 12;             // after the head and the object index
  // LOGFONTW, counted from its start; the variants that extend it (EXTLOGFONTW and others) all
  // start with it.
  static constexpr std::size_t kWeight = 16;
  static constexpr std::size_t kItalic = 20;
  static constexpr std::size_t kCharset = 23;
  static constexpr std::size_t kFaceName = 28;
  static constexpr std::size_t kLogFontSize = kFaceName + 2 * kFaceNameUnits;
};
static_assert(EmfFontRecordLayout::kSize + 4 == EmfFontRecordLayout::kHeadSize);
static_assert(EmfFontRecordLayout::kHeadSize + 4 == EmfFontRecordLayout::kLogFont);
static_assert(EmfFontRecordLayout::kLogFontSize == 92);  // sizeof(LOGFONTW)

// The fonts of one job, each listed once, as its pages pass.
class CQuilJobFontReferences {
 public:
  // A job lists at most this many fonts; the fonts past them print as the client maps them. The
  // bound also keeps the list of one page within one font query.
  static constexpr std::size_t kMaxReferences = 256;

  // The fonts that `metafile` creates and no earlier page of the job did, in the order of their
  // first record. The records are walked while each one is well formed: a size of at least 8
  // bytes, a multiple of 4, inside the data; the walk ends at the first that is not, or at
  // EMR_EOF. A font record too short for its LOGFONTW, or whose face name is empty or has no NUL
  // within its 32 units, names no font that could be sent and is passed over.
  std::vector<FontReference> AddPage(std::span<const uint8_t> metafile);

  std::size_t size() const { return seen_.size(); }

 private:
  std::set<FontReference> seen_;
};

}  // namespace quil
