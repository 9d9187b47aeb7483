// The fonts of a job's pages that the client lacks, sent ahead of the first page that uses each,
// for a client that announced kCapFonts (FontMessages.h). Only a font that the server itself has
// under the page's face name, whose embedding permissions allow it and that fits in what is left
// of the job's font budget travels; any other prints with the client's substitute.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "FontMessages.h"
#include "FontReference.h"
#include "SendWindow.h"

namespace quil {

class CQuilJobFontSender {
 public:
  // `compress`: whether the client announced compressed pages, which covers font data as well.
  CQuilJobFontSender(CQuilSendWindow& window, bool compress) : window_(window), compress_(compress) {}

  // Asks the client about the fonts of the page that the job has not named before, once every
  // earlier message is acknowledged, and sends the data of those it lacks. False when the channel
  // failed: the job is over.
  bool BeforePage(std::span<const uint8_t> metafile);

 private:
  // Sends one font the client lacks, or logs why it is not sent. False only when the channel failed.
  bool SendFont(const FontReference& reference);

  CQuilSendWindow& window_;
  const bool compress_;
  CQuilJobFontReferences references_;
  CQuilFontBudget budget_;
  // One font data message at a time, the font read straight into it, and its compressed form: the
  // storage is reused for the job's next font.
  std::vector<uint8_t> message_;
  std::vector<uint8_t> compressed_;
};

}  // namespace quil
