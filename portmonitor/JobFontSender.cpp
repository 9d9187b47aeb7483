#include "JobFontSender.h"

#include <string>

#include "FontData.h"
#include "PageCompression.h"
#include "QuilLog.h"
#include "SfntFont.h"
#include "WideText.h"

namespace quil {
namespace {

const wchar_t* EmbeddingRefusal(FontEmbedding embedding) {
  switch (embedding) {
    case FontEmbedding::kRestricted:
      return L"its embedding permission is restricted-license";
    case FontEmbedding::kBitmapOnly:
      return L"it allows embedding its bitmaps only";
    case FontEmbedding::kNoPermission:
      return L"it grants no embedding permission";
    default:
      return L"its data is not TrueType or OpenType";
  }
}

}  // namespace

bool CQuilJobFontSender::BeforePage(std::span<const uint8_t> metafile) {
  const std::vector<FontReference> references = references_.AddPage(metafile);
  if (references.empty()) return true;
  std::vector<uint8_t> answer;
  if (!window_.Exchange(BuildFontQuery(references), answer)) return false;
  const auto lacking = ParseFontQueryAnswer(answer, references.size());
  if (!lacking) {
    Log(L"Font query of %d fonts: the client did not say which it lacks, none is sent",
        static_cast<int>(references.size()));
    return true;
  }
  for (std::size_t i = 0; i < references.size(); ++i) {
    if ((*lacking)[i] && !SendFont(references[i])) return false;
  }
  return true;
}

bool CQuilJobFontSender::SendFont(const FontReference& reference) {
  const std::wstring face = ToWide(reference.faceName);
  const FontDataRead read = ReadFontData(reference, budget_.remaining(), message_, kFontDataStart);
  switch (read.result) {
    case FontDataResult::kRead:
      break;
    case FontDataResult::kNotInstalled:
      Log(L"Font \"%s\" not sent: the server has no face of that name", face.c_str());
      return true;
    case FontDataResult::kTooLarge:
      Log(L"Font \"%s\" not sent: its %u bytes are past the job's font budget (%u bytes left)", face.c_str(),
          read.size, budget_.remaining());
      return true;
    case FontDataResult::kFailed:
      return true;  // ReadFontData logged why
  }
  const auto font = std::span<const uint8_t>(message_).subspan(kFontDataStart);
  const FontEmbedding embedding = CheckFontEmbedding(font);
  if (embedding != FontEmbedding::kAllowed) {
    Log(L"Font \"%s\" not sent: %s", face.c_str(), EmbeddingRefusal(embedding));
    return true;
  }
  budget_.Take(font.size());
  CompleteFontData(message_, reference);
  const bool shrunk = compress_ && BuildCompressedFontData(message_, kPageCompressionLevel, compressed_);
  const std::vector<uint8_t>& sent = shrunk ? compressed_ : message_;
  if (!window_.Send(sent)) return false;
  Log(L"Font \"%s\" sent: %u bytes, %u on the channel", face.c_str(), static_cast<unsigned>(font.size()),
      static_cast<unsigned>(sent.size()));
  return true;
}

}  // namespace quil
