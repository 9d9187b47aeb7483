// The fonts of a job on the client: which of the fonts the server names this computer lacks, and
// the fonts received for the job, loaded for this process alone and only while the job lasts, so
// that nothing is installed on the computer and nothing stays after the job.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "FontMessages.h"
#include "FontReference.h"
#include "UniqueHandle.h"

namespace quil {

// Whether GDI here maps the reference to a face of its name (compared without regard to case).
// A font that a CQuilJobFonts holds counts.
bool HasFont(const FontReference& reference);

// One flag per reference, in order: whether this computer lacks the font. The answer to a font
// query (BuildFontQueryAnswer).
std::vector<bool> LackingFonts(std::span<const FontReference> references);

struct FontMemResourceTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle fonts) { RemoveFontMemResourceEx(fonts); }
};
// The fonts that one AddFontMemResourceEx call loaded.
using UniqueFontMemResource = UniqueResource<FontMemResourceTraits>;

// The fonts received for one job, each removed again when the holder goes (at the job's end or
// abort).
class CQuilJobFonts {
 public:
  enum class AddResult {
    kLoaded,
    kNotSfnt,     // not TrueType, OpenType or a collection of them: not handed to GDI
    kOverBudget,  // past the job's font budget: not handed to GDI
    kFailed,      // GDI did not load it
  };

  explicit CQuilJobFonts(uint32_t budget = kJobFontBudget) : budget_(budget) {}

  // Loads a received font for this process. Its size counts against the job's budget once it is
  // found to be an sfnt, whether or not GDI then loads it. Throws std::bad_alloc, before anything
  // is loaded, when memory runs out.
  AddResult Add(std::span<const uint8_t> font);
  // The fonts loaded so far.
  std::size_t size() const { return fonts_.size(); }
  // The bytes of font data the job may still load.
  uint32_t remaining() const { return budget_.remaining(); }

 private:
  CQuilFontBudget budget_;
  std::vector<UniqueFontMemResource> fonts_;
};

}  // namespace quil
