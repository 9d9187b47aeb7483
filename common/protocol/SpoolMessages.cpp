#include "SpoolMessages.h"

#include <algorithm>
#include <cstdint>

#include "MessageReader.h"
#include "MessageWriter.h"

namespace quil {

std::vector<uint8_t> BuildJobStart(std::span<const uint8_t, JobStartLayout::kDevModeSize> devMode,
                                   std::u16string_view printerName,
                                   std::u16string_view documentName) {
  using Layout = JobStartLayout;
  CQuilMessageWriter writer(
      MSG_START_DOC, Layout::kFixedSize,
      CQuilMessageWriter::StringSize(printerName) + CQuilMessageWriter::StringSize(documentName));
  writer.PutBytes(Layout::kDevMode, devMode);
  // The printer name goes in first, at the end; the document name before it, at offset 0.
  writer.PutU32(Layout::kPrinterNameOffset, writer.LayInString(printerName));
  writer.PutU32(Layout::kDocumentNameOffset, writer.LayInString(documentName));
  return writer.Take();
}

std::vector<uint8_t> BuildPage(std::span<const uint8_t> metafile) {
  std::vector<uint8_t> message(kPageMetafileStart + metafile.size());
  std::copy(metafile.begin(), metafile.end(), message.begin() + kPageMetafileStart);
  CompletePage(message);
  return message;
}

bool CompletePage(std::span<uint8_t> message) {
  using Layout = PageLayout;
  if (message.size() < kPageMetafileStart || message.size() - kPageMetafileStart > UINT32_MAX) return false;
  const auto put = [&](std::size_t position, uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) message[position + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  put(kMessageCodeOffset, MSG_PAGE);
  put(Layout::kDataOffset, Layout::kFillerSize);  // the metafile follows the filler
  put(Layout::kDataSize, static_cast<uint32_t>(message.size() - kPageMetafileStart));
  message[Layout::kFixedSize] = 0;
  return true;
}

std::vector<uint8_t> BuildJobEnd() {
  return CQuilMessageWriter(MSG_END_DOC, kCodeOnlyMessageSize).Take();
}

std::vector<uint8_t> BuildJobStartAck() {
  return CQuilMessageWriter(MSG_START_DOC, kCodeOnlyMessageSize).Take();
}

std::vector<uint8_t> BuildPageAck() {
  return CQuilMessageWriter(MSG_PAGE, kPageAckSize).Take();
}

std::vector<uint8_t> BuildJobEndAck() {
  return CQuilMessageWriter(MSG_END_DOC, kCodeOnlyMessageSize).Take();
}

std::optional<JobStart> ParseJobStart(std::span<const uint8_t> message) {
  using Layout = JobStartLayout;
  const CQuilMessageReader reader(message);
  const auto devMode = reader.Bytes(Layout::kDevMode, Layout::kDevModeSize);
  const auto printerOffset = reader.U32(Layout::kPrinterNameOffset);
  const auto documentOffset = reader.U32(Layout::kDocumentNameOffset);
  if (reader.U32(kMessageCodeOffset) != MSG_START_DOC || !devMode || !printerOffset ||
      !documentOffset) {
    return std::nullopt;
  }
  auto printerName = reader.String(uint64_t{Layout::kFixedSize} + *printerOffset);
  auto documentName = reader.String(uint64_t{Layout::kFixedSize} + *documentOffset);
  if (!printerName || !documentName) return std::nullopt;
  JobStart job{{}, std::move(*printerName), std::move(*documentName)};
  std::copy(devMode->begin(), devMode->end(), job.devMode.begin());
  return job;
}

std::optional<std::span<const uint8_t>> ParsePage(std::span<const uint8_t> message) {
  using Layout = PageLayout;
  const CQuilMessageReader reader(message);
  const auto dataOffset = reader.U32(Layout::kDataOffset);
  const auto dataSize = reader.U32(Layout::kDataSize);
  if (reader.U32(kMessageCodeOffset) != MSG_PAGE || !dataOffset || !dataSize) return std::nullopt;
  return reader.Bytes(uint64_t{Layout::kFixedSize} + *dataOffset, *dataSize);
}

}  // namespace quil
