#include "FontData.h"

#include <new>
#include <string>

#include "QuilLog.h"
#include "ReferencedFont.h"
#include "WideText.h"

namespace quil {
namespace {

// GetFontData takes a table tag with its bytes in file order: 'ttcf' names the whole collection
// that the selected font belongs to. Table 0 is the whole file of a font that is no collection's;
// for a collection's font it would be that font's part only, whose table offsets point elsewhere.
constexpr DWORD kCollectionTable = 0x66637474;
constexpr DWORD kWholeFile = 0;

}  // namespace

FontDataRead ReadFontData(const FontReference& reference, uint32_t maxSize, std::vector<uint8_t>& data,
                          std::size_t offset) {
  const std::wstring face = ToWide(reference.faceName);
  const CQuilReferencedFont font(reference);
  if (!font.selected()) {
    Log(L"CreateFontIndirectW or SelectObject failed for the font %s", face.c_str());
    return {FontDataResult::kFailed, 0};
  }
  if (!font.IsNamedFace()) return {FontDataResult::kNotInstalled, 0};
  DWORD table = kCollectionTable;
  DWORD size = GetFontData(font.dc(), table, 0, nullptr, 0);
  if (size == GDI_ERROR) {
    table = kWholeFile;
    size = GetFontData(font.dc(), table, 0, nullptr, 0);
  }
  if (size == GDI_ERROR || size == 0) {
    Log(L"GetFontData failed for the font %s", face.c_str());
    return {FontDataResult::kFailed, 0};
  }
  if (size > maxSize) return {FontDataResult::kTooLarge, size};
  try {
    data.resize(offset + size);
  } catch (const std::bad_alloc&) {
    Log(L"No memory for the %u bytes of the font %s", size, face.c_str());
    return {FontDataResult::kFailed, size};
  }
  if (GetFontData(font.dc(), table, 0, data.data() + offset, size) != size) {
    Log(L"GetFontData failed for the font %s", face.c_str());
    return {FontDataResult::kFailed, size};
  }
  return {FontDataResult::kRead, size};
}

}  // namespace quil
