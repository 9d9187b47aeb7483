// Messages of the spool channel "QSpl": layouts, builders and parsers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MessageCodes.h"

namespace quil {

// Job start (server to client): code MSG_START_DOC, the public part of the job's DEVMODEW,
// printer-name offset, document-name offset; then the variable area with both names.
struct JobStartLayout {
  static constexpr std::size_t kDevMode = 4;
  static constexpr std::size_t kDevModeSize = 220;
  static constexpr std::size_t kPrinterNameOffset = 224;
  static constexpr std::size_t kDocumentNameOffset = 228;
  static constexpr std::size_t kFixedSize = 232;
};
static_assert(JobStartLayout::kDevMode == kMessageCodeSize);
static_assert(JobStartLayout::kDevMode + JobStartLayout::kDevModeSize ==
              JobStartLayout::kPrinterNameOffset);
static_assert(JobStartLayout::kPrinterNameOffset + 4 == JobStartLayout::kDocumentNameOffset);
static_assert(JobStartLayout::kDocumentNameOffset + 4 == JobStartLayout::kFixedSize);

// Page (server to client): code MSG_PAGE, data offset, data size; then the variable area with a
// filler byte and one enhanced metafile.
struct PageLayout {
  static constexpr std::size_t kDataOffset = 4;
  static constexpr std::size_t kDataSize = 8;
  static constexpr std::size_t kFixedSize = 12;
  static constexpr std::size_t kFillerSize = 1;
};
static_assert(PageLayout::kDataOffset == kMessageCodeSize);
static_assert(PageLayout::kDataOffset + 4 == PageLayout::kDataSize);
static_assert(PageLayout::kDataSize + 4 == PageLayout::kFixedSize);

// Page acknowledgement (client to server): code MSG_PAGE and eight zero bytes. The job start and
// job end and their acknowledgements are code-only messages.
inline constexpr std::size_t kPageAckSize = 12;
static_assert(kPageAckSize == kMessageCodeSize + 8);

// The first 220 bytes of a DEVMODEW, carried unchanged.
using DevModeBlock = std::array<uint8_t, JobStartLayout::kDevModeSize>;

struct JobStart {
  DevModeBlock devMode{};
  std::u16string printerName;
  std::u16string documentName;

  bool operator==(const JobStart&) const = default;
};

std::vector<uint8_t> BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize> devMode,
                                   std::u16string_view printerName,
                                   std::u16string_view documentName);
std::vector<uint8_t> BuildPage(std::span<const uint8_t> metafile);
// A page message made around its metafile in place, so that a page is never copied: the
// metafile fills the buffer from kPageMetafileStart to its end, and CompletePage writes the code,
// the data offset and size and the filler before it (the same bytes as BuildPage). False, and
// nothing written, for a buffer too short for the fixed part or a metafile of 4 GiB or more.
inline constexpr std::size_t kPageMetafileStart = PageLayout::kFixedSize + PageLayout::kFillerSize;
bool CompletePage(std::span<uint8_t> message);
std::vector<uint8_t> BuildJobEnd();
std::vector<uint8_t> BuildJobStartAck();
std::vector<uint8_t> BuildPageAck();
std::vector<uint8_t> BuildJobEndAck();

// Each parser returns nullopt for a message with another code, one shorter than its fixed part,
// or one whose variable items do not lie inside it.
std::optional<JobStart> ParseJobStart(std::span<const uint8_t> message);
// The page's metafile bytes, a view into the message found through the data offset.
std::optional<std::span<const uint8_t>> ParsePage(std::span<const uint8_t> message);

}  // namespace quil
