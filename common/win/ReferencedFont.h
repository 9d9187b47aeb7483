// The font that GDI maps a font reference to, selected into a memory device context, and whether
// it is the named face: where a computer lacks the face, GDI substitutes one of another name.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iterator>
#include <string>

#include "FontReference.h"
#include "UniqueGdi.h"

namespace quil {

// A LOGFONTW of the reference's face name, weight, italic flag and character set; every other
// field zero, GDI's default.
inline LOGFONTW LogFontOf(const FontReference& reference) {
  LOGFONTW font{};
  font.lfWeight = reference.weight;
  font.lfItalic = reference.italic ? TRUE : FALSE;
  font.lfCharSet = reference.charset;
  const std::size_t units = std::min(reference.faceName.size(), std::size(font.lfFaceName) - 1);
  std::copy_n(reference.faceName.begin(), units, font.lfFaceName);
  return font;
}

// GDI may keep the face it mapped a logical font to and hand it out again for an identical
// LOGFONTW, even after fonts were added or removed (Wine does, for the last few fonts released).
// Each font made for a check therefore takes a cell height of its own, one that pages hardly use
// and that does not change which face is chosen, so that every check maps the name afresh.
inline LONG FreshCellHeight() {
  constexpr LONG kFirst = 4001;
  constexpr uint32_t kCount = 64;  // far more than such a cache keeps
  static std::atomic<uint32_t> next{0};
  return kFirst + static_cast<LONG>(next.fetch_add(1) % kCount);
}

class CQuilReferencedFont {
 public:
  explicit CQuilReferencedFont(const FontReference& reference)
      : faceName_(reference.faceName), dc_(CreateCompatibleDC(nullptr)) {
    LOGFONTW logFont = LogFontOf(reference);
    logFont.lfHeight = FreshCellHeight();
    font_.reset(CreateFontIndirectW(&logFont));
    if (dc_ && font_) previous_ = SelectObject(dc_.get(), font_.get());
  }
  ~CQuilReferencedFont() {
    // The font must not be selected when it is deleted.
    if (previous_) SelectObject(dc_.get(), previous_);
  }
  CQuilReferencedFont(const CQuilReferencedFont&) = delete;
  CQuilReferencedFont& operator=(const CQuilReferencedFont&) = delete;

  // Whether the device context was made and the font created and selected into it.
  bool selected() const { return previous_ != nullptr; }
  // Whether the selected font's face carries the reference's name, compared without regard to
  // case as GDI compares face names.
  bool IsNamedFace() const {
    wchar_t face[LF_FACESIZE] = {};
    if (!selected() || GetTextFaceW(dc_.get(), LF_FACESIZE, face) <= 0) return false;
    return CompareStringOrdinal(face, static_cast<int>(wcsnlen(face, LF_FACESIZE)),
                                reinterpret_cast<const wchar_t*>(faceName_.c_str()),
                                static_cast<int>(faceName_.size()), TRUE) == CSTR_EQUAL;
  }
  HDC dc() const { return dc_.get(); }

 private:
  std::u16string faceName_;
  UniqueDC dc_;
  UniqueGdiObject font_;  // declared after the DC, so that it goes first
  HGDIOBJ previous_ = nullptr;
};

}  // namespace quil
