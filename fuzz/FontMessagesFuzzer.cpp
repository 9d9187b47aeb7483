// Parses arbitrary bytes as the font messages: a font query, its answer (with the number of flags
// the bytes themselves state) and font data. Whatever a parser accepts lies inside the message
// and survives being built and parsed again.
#include <algorithm>

#include "FontMessages.h"
#include "FuzzCheck.h"
#include "MessageReader.h"

namespace {

using namespace quil;

void CheckQuery(std::span<const uint8_t> message) {
  const auto references = ParseFontQuery(message);
  if (!references) return;
  fuzz::Require(references->size() <= FontQueryLayout::kMaxReferences);
  fuzz::Require(message.size() >= FontQueryLayout::kFixedSize + references->size() * FontReferenceLayout::kSize);
  for (const FontReference& reference : *references) {
    fuzz::Require(!reference.faceName.empty() && reference.faceName.size() < kFaceNameUnits);
  }
  fuzz::Require(ParseFontQuery(BuildFontQuery(*references)) == references);
}

void CheckAnswer(std::span<const uint8_t> message) {
  const auto stated = CQuilMessageReader(message).U32(FontQueryAnswerLayout::kCount);
  if (!stated) return;
  const auto lacking = ParseFontQueryAnswer(message, *stated);
  if (!lacking) return;
  const auto rebuilt = BuildFontQueryAnswer(*lacking);
  fuzz::Require(rebuilt.size() <= message.size() && std::equal(rebuilt.begin(), rebuilt.end(), message.begin()));
}

void CheckData(std::span<const uint8_t> message) {
  const auto data = ParseFontData(message);
  if (!data) return;
  fuzz::Require(data->font.size() <= kJobFontBudget);
  fuzz::Require(fuzz::LiesInside(data->font, message.subspan(FontDataLayout::kFixedSize)));
  const auto rebuilt = BuildFontData(data->reference, data->font);
  const auto reparsed = ParseFontData(rebuilt);
  fuzz::Require(reparsed && reparsed->reference == data->reference && std::ranges::equal(reparsed->font, data->font));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> message(data, size);
  CheckQuery(message);
  CheckAnswer(message);
  CheckData(message);
  return 0;
}
