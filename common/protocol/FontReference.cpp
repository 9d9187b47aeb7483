#include "FontReference.h"

#include <optional>

#include "MessageReader.h"

namespace quil {
namespace {

using Layout = EmfFontRecordLayout;

// The face name of a LOGFONTW: its units up to the NUL, which must come within the 32 units.
std::optional<std::u16string> ReadFaceName(const CQuilMessageReader& logFont) {
  std::u16string name;
  for (std::size_t i = 0; i < kFaceNameUnits; ++i) {
    const auto unit = logFont.U16(Layout::kFaceName + 2 * i);
    if (!unit) return std::nullopt;
    if (*unit == 0) return name;
    name.push_back(static_cast<char16_t>(*unit));
  }
  return std::nullopt;
}

// The font that an EMR_EXTCREATEFONTINDIRECTW record's LOGFONTW names.
std::optional<FontReference> ReadFontRecord(std::span<const uint8_t> record) {
  if (record.size() < Layout::kLogFont + Layout::kLogFontSize) return std::nullopt;
  const CQuilMessageReader logFont(record.subspan(Layout::kLogFont, Layout::kLogFontSize));
  auto faceName = ReadFaceName(logFont);
  if (!faceName || faceName->empty()) return std::nullopt;
  const auto weight = logFont.U32(Layout::kWeight);
  const auto italic = logFont.Bytes(Layout::kItalic, 1);
  const auto charset = logFont.Bytes(Layout::kCharset, 1);
  return FontReference{std::move(*faceName), static_cast<int32_t>(*weight), (*italic)[0] != 0, (*charset)[0]};
}

}  // namespace

std::vector<FontReference> CQuilJobFontReferences::AddPage(std::span<const uint8_t> metafile) {
  std::vector<FontReference> added;
  const CQuilMessageReader reader(metafile);
  uint64_t position = 0;
  while (seen_.size() < kMaxReferences) {
    const auto type = reader.U32(position + Layout::kType);
    const auto size = reader.U32(position + Layout::kSize);
    if (!type || !size || *size < Layout::kHeadSize || *size % 4 != 0 || *type == Layout::kEofRecord) break;
    const auto record = reader.Bytes(position, *size);
    if (!record) break;
    if (*type == Layout::kExtCreateFontRecord) {
      auto reference = ReadFontRecord(*record);
      if (reference && seen_.insert(*reference).second) added.push_back(std::move(*reference));
    }
    position += *size;
  }
  return added;
}

}  // namespace quil
