#include "FontMessages.h"

#include <algorithm>
#include <cassert>

#include "MessageReader.h"

namespace quil {
namespace {

void PutU32(std::span<uint8_t> bytes, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[position + i] = static_cast<uint8_t>(value >> 8 * i);
}

// Writes the reference's fields into the FontReferenceLayout::kSize bytes at `at`, which are zero.
void PutReference(std::span<uint8_t> at, const FontReference& reference) {
  using Layout = FontReferenceLayout;
  assert(!reference.faceName.empty() && reference.faceName.size() < kFaceNameUnits);
  PutU32(at, Layout::kWeight, static_cast<uint32_t>(reference.weight));
  PutU32(at, Layout::kItalic, reference.italic ? 1 : 0);
  PutU32(at, Layout::kCharset, reference.charset);
  // The last unit always stays NUL.
  const std::size_t units = std::min(reference.faceName.size(), kFaceNameUnits - 1);
  for (std::size_t i = 0; i < units; ++i) {
    at[Layout::kFaceName + 2 * i] = static_cast<uint8_t>(reference.faceName[i]);
    at[Layout::kFaceName + 2 * i + 1] = static_cast<uint8_t>(reference.faceName[i] >> 8);
  }
}

std::optional<FontReference> ReadReference(const CQuilMessageReader& reader, uint64_t position) {
  using Layout = FontReferenceLayout;
  const auto weight = reader.U32(position + Layout::kWeight);
  const auto italic = reader.U32(position + Layout::kItalic);
  const auto charset = reader.U32(position + Layout::kCharset);
  const auto face = reader.Bytes(position + Layout::kFaceName, Layout::kFaceNameSize);
  if (!weight || !italic || *italic > 1 || !charset || *charset > 0xFF || !face) return std::nullopt;
  FontReference reference{u"", static_cast<int32_t>(*weight), *italic == 1, static_cast<uint8_t>(*charset)};
  for (std::size_t i = 0; i < Layout::kFaceNameSize; i += 2) {
    const auto unit = static_cast<char16_t>((*face)[i] | (*face)[i + 1] << 8);
    if (unit == 0) break;
    reference.faceName.push_back(unit);
  }
  if (reference.faceName.empty() || reference.faceName.size() == kFaceNameUnits) return std::nullopt;
  return reference;
}

}  // namespace

std::vector<uint8_t> BuildFontQuery(std::span<const FontReference> references) {
  using Layout = FontQueryLayout;
  assert(references.size() <= Layout::kMaxReferences);
  std::vector<uint8_t> message(Layout::kFixedSize + references.size() * FontReferenceLayout::kSize);
  PutU32(message, kMessageCodeOffset, MSG_FONT_QUERY);
  PutU32(message, Layout::kCount, static_cast<uint32_t>(references.size()));
  auto at = std::span(message).subspan(Layout::kFixedSize);
  for (const FontReference& reference : references) {
    PutReference(at.first(FontReferenceLayout::kSize), reference);
    at = at.subspan(FontReferenceLayout::kSize);
  }
  return message;
}

std::vector<uint8_t> BuildFontQueryAnswer(const std::vector<bool>& lacking) {
  using Layout = FontQueryAnswerLayout;
  std::vector<uint8_t> answer(Layout::kFixedSize + lacking.size());
  PutU32(answer, kMessageCodeOffset, MSG_FONT_QUERY);
  PutU32(answer, Layout::kCount, static_cast<uint32_t>(lacking.size()));
  for (std::size_t i = 0; i < lacking.size(); ++i) {
    answer[Layout::kFixedSize + i] = lacking[i] ? Layout::kLacks : Layout::kHas;
  }
  return answer;
}

std::vector<uint8_t> BuildFontQueryRefusal() {
  std::vector<uint8_t> answer(kCodeOnlyMessageSize);
  PutU32(answer, kMessageCodeOffset, MSG_FONT_QUERY);
  return answer;
}

std::vector<uint8_t> BuildFontData(const FontReference& reference, std::span<const uint8_t> font) {
  std::vector<uint8_t> message(kFontDataStart + font.size());
  std::copy(font.begin(), font.end(), message.begin() + kFontDataStart);
  CompleteFontData(message, reference);
  return message;
}

bool CompleteFontData(std::span<uint8_t> message, const FontReference& reference) {
  using Layout = FontDataLayout;
  if (message.size() < kFontDataStart || message.size() - kFontDataStart > kJobFontBudget) return false;
  const auto fixed = message.first(Layout::kFixedSize);
  std::fill(fixed.begin(), fixed.end(), uint8_t{0});
  PutU32(fixed, kMessageCodeOffset, MSG_FONT_DATA);
  PutReference(fixed.subspan(Layout::kReference, FontReferenceLayout::kSize), reference);
  PutU32(fixed, Layout::kDataOffset, 0);  // the font is the only item of the variable area
  PutU32(fixed, Layout::kDataSize, static_cast<uint32_t>(message.size() - kFontDataStart));
  return true;
}

std::vector<uint8_t> BuildFontDataAck() {
  std::vector<uint8_t> ack(kCodeOnlyMessageSize);
  PutU32(ack, kMessageCodeOffset, MSG_FONT_DATA);
  return ack;
}

std::optional<std::vector<FontReference>> ParseFontQuery(std::span<const uint8_t> message) {
  using Layout = FontQueryLayout;
  const CQuilMessageReader reader(message);
  const auto count = reader.U32(Layout::kCount);
  if (reader.U32(kMessageCodeOffset) != MSG_FONT_QUERY || !count || *count > Layout::kMaxReferences) {
    return std::nullopt;
  }
  std::vector<FontReference> references;
  references.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) {
    auto reference = ReadReference(reader, Layout::kFixedSize + uint64_t{i} * FontReferenceLayout::kSize);
    if (!reference) return std::nullopt;
    references.push_back(std::move(*reference));
  }
  return references;
}

std::optional<std::vector<bool>> ParseFontQueryAnswer(std::span<const uint8_t> answer, std::size_t queried) {
  using Layout = FontQueryAnswerLayout;
  const CQuilMessageReader reader(answer);
  const auto count = reader.U32(Layout::kCount);
  if (reader.U32(kMessageCodeOffset) != MSG_FONT_QUERY || count != queried) return std::nullopt;
  const auto flags = reader.Bytes(Layout::kFixedSize, *count);
  if (!flags) return std::nullopt;
  std::vector<bool> lacking;
  lacking.reserve(flags->size());
  for (const uint8_t flag : *flags) {
    if (flag != Layout::kHas && flag != Layout::kLacks) return std::nullopt;
    lacking.push_back(flag == Layout::kLacks);
  }
  return lacking;
}

std::optional<FontDataMessage> ParseFontData(std::span<const uint8_t> message) {
  using Layout = FontDataLayout;
  const CQuilMessageReader reader(message);
  const auto dataOffset = reader.U32(Layout::kDataOffset);
  const auto dataSize = reader.U32(Layout::kDataSize);
  if (reader.U32(kMessageCodeOffset) != MSG_FONT_DATA || !dataOffset || !dataSize ||
      *dataSize > kJobFontBudget) {
    return std::nullopt;
  }
  auto reference = ReadReference(reader, Layout::kReference);
  const auto font = reader.Bytes(uint64_t{Layout::kFixedSize} + *dataOffset, *dataSize);
  if (!reference || !font) return std::nullopt;
  return FontDataMessage{std::move(*reference), *font};
}

bool CQuilFontBudget::Take(uint64_t size) {
  if (size > remaining_) return false;
  remaining_ -= static_cast<uint32_t>(size);
  return true;
}

}  // namespace quil
