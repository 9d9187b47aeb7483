// Checks of font data in the sfnt format (TrueType, OpenType, and collections of them): whether
// bytes are one, and whether its embedding permissions allow sending it to print elsewhere.
// All sfnt integers are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace quil {

struct SfntLayout {
  // A font's offset table: its version tag, the number of tables, then a directory of 16-byte
  // records (tag, checksum, offset from the start of the file, length).
  static constexpr std::size_t kVersion = 0;
  static constexpr std::size_t kTableCount = 4;
  static constexpr std::size_t kDirectory = 12;
  static constexpr std::size_t kRecordSize = 16;
  static constexpr std::size_t kRecordTag = 0;
  static constexpr std::size_t kRecordOffset = 8;
  static constexpr std::size_t kRecordLength = 12;
  static constexpr uint32_t kTrueType = 0x00010000;
  static constexpr uint32_t kAppleTrueType = 0x74727565;  // 'true'
  static constexpr uint32_t kOpenType = 0x4F54544F;       // 'OTTO': CFF outlines
  // A collection's header: 'ttcf', version, the number of fonts, then each font's offset table's
  // position in the file.
  static constexpr uint32_t kCollection = 0x74746366;  // 'ttcf'
  static constexpr std::size_t kFontCount = 8;
  static constexpr std::size_t kFontOffsets = 12;
  // The OS/2 table's fsType: the font's embedding permissions.
  static constexpr uint32_t kOs2Tag = 0x4F532F32;  // 'OS/2'
  static constexpr std::size_t kFsType = 8;
  static constexpr uint16_t kRestrictedLicense = 0x0002;
  static constexpr uint16_t kPreviewAndPrint = 0x0004;
  static constexpr uint16_t kEditable = 0x0008;
  static constexpr uint16_t kBitmapOnly = 0x0200;
};
static_assert(SfntLayout::kRecordLength + 4 == SfntLayout::kRecordSize);
static_assert(SfntLayout::kFontCount + 4 == SfntLayout::kFontOffsets);

enum class SfntKind { kNotSfnt, kTrueType, kOpenType, kCollection };

// The collections accepted: far more fonts than any real collection holds.
inline constexpr uint32_t kMaxCollectionFonts = 256;

// The kind of the font data, or kNotSfnt unless it starts with a known version tag and every
// table directory (each font's, for a collection of 1 to kMaxCollectionFonts fonts) and every
// table it lists lie inside the data. A directory must list at least one table.
SfntKind ReadSfntKind(std::span<const uint8_t> font);

// Whether a font may travel to another computer to print there.
enum class FontEmbedding {
  kAllowed,       // installable (fsType 0), preview & print, or editable
  kRestricted,    // restricted-license embedding and no less restrictive permission beside it
  kBitmapOnly,    // only the font's bitmaps may be embedded, and the whole font holds outlines
  kNoPermission,  // no OS/2 table, or one too short for fsType: nothing grants embedding
  kNotSfnt,
};

// The embedding permission of the font data; for a collection, the first font's that does not
// allow it, as the whole collection travels. Where several permission bits are set the least
// restrictive one counts, as older fonts combine them.
FontEmbedding CheckFontEmbedding(std::span<const uint8_t> font);

}  // namespace quil
