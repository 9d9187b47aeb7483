// Reads arbitrary bytes as font data (the sfnt checks) and as a page's enhanced metafile (the scan
// for its fonts). The checks agree with each other, and every font the scan lists can travel in a
// font query.
#include <set>

#include "FontMessages.h"
#include "FontReference.h"
#include "FuzzCheck.h"
#include "SfntFont.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const std::span<const uint8_t> bytes(data, size);
  const bool sfnt = ReadSfntKind(bytes) != SfntKind::kNotSfnt;
  fuzz::Require(sfnt == (CheckFontEmbedding(bytes) != FontEmbedding::kNotSfnt));

  CQuilJobFontReferences job;
  const auto references = job.AddPage(bytes);
  fuzz::Require(references.size() == job.size() && job.size() <= CQuilJobFontReferences::kMaxReferences);
  fuzz::Require(std::set(references.begin(), references.end()).size() == references.size());
  fuzz::Require(ParseFontQuery(BuildFontQuery(references)) == references);
  fuzz::Require(job.AddPage(bytes).empty());
  return 0;
}
