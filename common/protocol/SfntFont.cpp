#include "SfntFont.h"

#include <optional>

#include "MessageReader.h"

namespace quil {
namespace {

using Layout = SfntLayout;

class BigEndianReader {
 public:
  explicit BigEndianReader(std::span<const uint8_t> data) : reader_(data) {}

  std::optional<uint16_t> U16(uint64_t position) const {
    const auto b = reader_.Bytes(position, 2);
    if (!b) return std::nullopt;
    return static_cast<uint16_t>((*b)[0] << 8 | (*b)[1]);
  }
  std::optional<uint32_t> U32(uint64_t position) const {
    const auto b = reader_.Bytes(position, 4);
    if (!b) return std::nullopt;
    return uint32_t{(*b)[0]} << 24 | uint32_t{(*b)[1]} << 16 | uint32_t{(*b)[2]} << 8 | (*b)[3];
  }
  std::optional<std::span<const uint8_t>> Bytes(uint64_t position, uint64_t count) const {
    return reader_.Bytes(position, count);
  }

 private:
  CQuilMessageReader reader_;
};

bool IsSingleFontVersion(std::optional<uint32_t> version) {
  return version == Layout::kTrueType || version == Layout::kAppleTrueType || version == Layout::kOpenType;
}

// Whether the offset table at `position` lists at least one table, and it and every table it
// lists lie inside the data.
bool DirectoryIsSound(const BigEndianReader& font, uint64_t position) {
  const auto tables = font.U16(position + Layout::kTableCount);
  if (!IsSingleFontVersion(font.U32(position + Layout::kVersion)) || !tables || *tables == 0) return false;
  for (uint64_t i = 0; i < *tables; ++i) {
    const uint64_t record = position + Layout::kDirectory + i * Layout::kRecordSize;
    const auto offset = font.U32(record + Layout::kRecordOffset);
    const auto length = font.U32(record + Layout::kRecordLength);
    if (!offset || !length || !font.Bytes(*offset, *length)) return false;
  }
  return true;
}

// A collection's number of fonts, 0 unless it is 1 to kMaxCollectionFonts.
uint32_t CollectionFontCount(const BigEndianReader& font) {
  const auto count = font.U32(Layout::kFontCount);
  return count && *count <= kMaxCollectionFonts ? *count : 0;
}

// Where the offset table of the collection's font `index` lies; nullopt past the header.
std::optional<uint32_t> CollectionFontOffset(const BigEndianReader& font, uint32_t index) {
  return font.U32(Layout::kFontOffsets + uint64_t{index} * 4);
}

bool CollectionIsSound(const BigEndianReader& font) {
  const uint32_t count = CollectionFontCount(font);
  for (uint32_t i = 0; i < count; ++i) {
    const auto offset = CollectionFontOffset(font, i);
    if (!offset || !DirectoryIsSound(font, *offset)) return false;
  }
  return count > 0;
}

// The table with `tag` in the sound directory at `position`; nullopt when it has none.
std::optional<std::span<const uint8_t>> FindTable(const BigEndianReader& font, uint64_t position, uint32_t tag) {
  const uint16_t tables = *font.U16(position + Layout::kTableCount);
  for (uint64_t i = 0; i < tables; ++i) {
    const uint64_t record = position + Layout::kDirectory + i * Layout::kRecordSize;
    if (*font.U32(record + Layout::kRecordTag) != tag) continue;
    return font.Bytes(*font.U32(record + Layout::kRecordOffset), *font.U32(record + Layout::kRecordLength));
  }
  return std::nullopt;
}

FontEmbedding Permission(uint16_t fsType) {
  const uint16_t usage = fsType & (Layout::kRestrictedLicense | Layout::kPreviewAndPrint | Layout::kEditable);
  if (usage == Layout::kRestrictedLicense) return FontEmbedding::kRestricted;
  if (fsType & Layout::kBitmapOnly) return FontEmbedding::kBitmapOnly;
  return FontEmbedding::kAllowed;
}

// The permission of the font whose sound directory lies at `position`.
FontEmbedding FontPermission(const BigEndianReader& font, uint64_t position) {
  const auto os2 = FindTable(font, position, Layout::kOs2Tag);
  if (!os2) return FontEmbedding::kNoPermission;
  const auto fsType = BigEndianReader(*os2).U16(Layout::kFsType);
  return fsType ? Permission(*fsType) : FontEmbedding::kNoPermission;
}

}  // namespace

SfntKind ReadSfntKind(std::span<const uint8_t> data) {
  const BigEndianReader font(data);
  const auto version = font.U32(Layout::kVersion);
  if (version == Layout::kCollection) return CollectionIsSound(font) ? SfntKind::kCollection : SfntKind::kNotSfnt;
  if (!DirectoryIsSound(font, 0)) return SfntKind::kNotSfnt;
  return version == Layout::kOpenType ? SfntKind::kOpenType : SfntKind::kTrueType;
}

FontEmbedding CheckFontEmbedding(std::span<const uint8_t> data) {
  const BigEndianReader font(data);
  switch (ReadSfntKind(data)) {
    case SfntKind::kNotSfnt:
      return FontEmbedding::kNotSfnt;
    case SfntKind::kCollection:
      for (uint32_t i = 0; i < CollectionFontCount(font); ++i) {
        const FontEmbedding permission = FontPermission(font, *CollectionFontOffset(font, i));
        if (permission != FontEmbedding::kAllowed) return permission;
      }
      return FontEmbedding::kAllowed;
    default:
      return FontPermission(font, 0);
  }
}

}  // namespace quil
