#include "PrinterListMessages.h"

#include "MessageReader.h"
#include "MessageWriter.h"

namespace quil {

namespace {

// A message of `size` bytes made of its code and one 32-bit field at `position`.
std::vector<uint8_t> BuildWithField(uint32_t code, std::size_t size, std::size_t position,
                                    uint32_t value) {
  CQuilMessageWriter writer(code, size);
  writer.PutU32(position, value);
  return writer.Take();
}

// The 32-bit field at `position` of a message that carries the expected code.
std::optional<uint32_t> ReadFieldOf(std::span<const uint8_t> message, uint32_t code,
                                    std::size_t position) {
  const CQuilMessageReader reader(message);
  if (reader.U32(kMessageCodeOffset) != code) return std::nullopt;
  return reader.U32(position);
}

}  // namespace

std::vector<uint8_t> BuildPrinterCountRequest() {
  return CQuilMessageWriter(MSG_GET_PRINTERS, kCodeOnlyMessageSize).Take();
}

std::vector<uint8_t> BuildPrinterCountReply(uint32_t count) {
  using Layout = PrinterCountReplyLayout;
  return BuildWithField(MSG_GET_PRINTERS, Layout::kSize, Layout::kCount, count);
}

std::vector<uint8_t> BuildPrinterRequest(uint32_t index) {
  using Layout = PrinterRequestLayout;
  return BuildWithField(MSG_GET_PRINTER, Layout::kSize, Layout::kIndex, index);
}

std::vector<uint8_t> BuildPrinterRecord(std::u16string_view name, bool isDefault) {
  using Layout = PrinterRecordLayout;
  CQuilMessageWriter writer(MSG_GET_PRINTER, Layout::kFixedSize,
                            CQuilMessageWriter::StringSize(name));
  writer.PutU32(Layout::kNameOffset, writer.LayInString(name));
  writer.PutU32(Layout::kDefaultFlag, isDefault ? 1 : 0);
  return writer.Take();
}

std::optional<uint32_t> ParsePrinterCountReply(std::span<const uint8_t> message) {
  return ReadFieldOf(message, MSG_GET_PRINTERS, PrinterCountReplyLayout::kCount);
}

std::optional<uint32_t> ParsePrinterRequest(std::span<const uint8_t> message) {
  return ReadFieldOf(message, MSG_GET_PRINTER, PrinterRequestLayout::kIndex);
}

std::optional<PrinterRecord> ParsePrinterRecord(std::span<const uint8_t> message) {
  using Layout = PrinterRecordLayout;
  const CQuilMessageReader reader(message);
  const auto nameOffset = reader.U32(Layout::kNameOffset);
  const auto defaultFlag = reader.U32(Layout::kDefaultFlag);
  if (reader.U32(kMessageCodeOffset) != MSG_GET_PRINTER || !nameOffset || !defaultFlag) {
    return std::nullopt;
  }
  auto name = reader.String(uint64_t{Layout::kFixedSize} + *nameOffset);
  if (!name) return std::nullopt;
  return PrinterRecord{std::move(*name), *defaultFlag != 0};
}

}  // namespace quil
