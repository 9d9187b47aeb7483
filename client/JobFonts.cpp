#include "JobFonts.h"

#include "ReferencedFont.h"
#include "SfntFont.h"

namespace quil {

bool HasFont(const FontReference& reference) {
  return CQuilReferencedFont(reference).IsNamedFace();
}

std::vector<bool> LackingFonts(std::span<const FontReference> references) {
  std::vector<bool> lacking;
  lacking.reserve(references.size());
  for (const FontReference& reference : references) lacking.push_back(!HasFont(reference));
  return lacking;
}

CQuilJobFonts::AddResult CQuilJobFonts::Add(std::span<const uint8_t> font) {
  if (ReadSfntKind(font) == SfntKind::kNotSfnt) return AddResult::kNotSfnt;
  if (!budget_.Take(font.size())) return AddResult::kOverBudget;
  fonts_.reserve(fonts_.size() + 1);  // so that a loaded font always finds its place
  DWORD loaded = 0;
  UniqueFontMemResource fonts(
      AddFontMemResourceEx(const_cast<uint8_t*>(font.data()), static_cast<DWORD>(font.size()), nullptr, &loaded));
  if (!fonts) return AddResult::kFailed;
  fonts_.push_back(std::move(fonts));
  return AddResult::kLoaded;
}

}  // namespace quil
