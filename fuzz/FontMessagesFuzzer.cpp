// Parses arbitrary bytes as the font messages: a font query, its answer (with the number of flags
// the bytes themselves state), font data and compressed font data; and takes them as the start of
// a message whose bound the client checks. Whatever a parser accepts lies inside the message and
// survives being built and parsed again.
#include <algorithm>

#include "FontMessages.h"
#include "FuzzCheck.h"
#include "MessageBounds.h"
#include "MessageCodes.h"
#include "MessageReader.h"
#include "PageCompression.h"

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

// Inflated, the data is exactly the announced size, within the bound given; where it is a font data
// message, compressing it again (if that shrinks it) inflates back to the same message.
void CheckCompressedData(std::span<const uint8_t> message) {
  const auto bound = static_cast<uint32_t>(message.size() * 4);
  std::vector<uint8_t> fontData;
  if (!InflateCompressedFontData(message, bound, fontData)) {
    fuzz::Require(fontData.empty());
    return;
  }
  fuzz::Require(fontData.size() == CQuilMessageReader(message).U32(CompressedFontDataLayout::kMessageSize));
  fuzz::Require(fontData.size() <= bound && fontData.size() <= FontDataLayout::kMaxSize);
  if (!ParseFontData(fontData)) return;
  std::vector<uint8_t> compressed;
  std::vector<uint8_t> again;
  if (BuildCompressedFontData(fontData, kPageCompressionLevel, compressed)) {
    fuzz::Require(compressed.size() < fontData.size() + CompressedFontDataLayout::kFixedSize);
    fuzz::Require(InflateCompressedFontData(compressed, bound, again) && again == fontData);
  }
}

// A font message's bound never exceeds the largest font data message and what compressing it can
// add; a start too short for a code bounds the message to itself.
void CheckBound(std::span<const uint8_t> start) {
  const uint32_t bound = ServerMessageBound(start);
  const auto code = ReadMessageCode(start);
  if (!code) fuzz::Require(bound == start.size());
  if (code == MSG_FONT_DATA) fuzz::Require(bound == FontDataLayout::kMaxSize);
  if (code == MSG_COMPRESSED_FONT_DATA) {
    fuzz::Require(bound == CompressedFontDataLayout::kFixedSize + FontDataLayout::kMaxSize);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> message(data, size);
  CheckQuery(message);
  CheckAnswer(message);
  CheckData(message);
  CheckCompressedData(message);
  CheckBound(message);
  return 0;
}
