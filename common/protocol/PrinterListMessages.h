// Messages of the printer-list channel "QPrn": layouts, builders and parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MessageCodes.h"

namespace quil {

// Printer-count request (server to client): the code MSG_GET_PRINTERS alone.
// Printer-count reply (client to server): code, number of printers.
struct PrinterCountReplyLayout {
  static constexpr std::size_t kCount = 4;
  static constexpr std::size_t kSize = 8;
};
static_assert(PrinterCountReplyLayout::kCount == kMessageCodeSize);
static_assert(PrinterCountReplyLayout::kCount + 4 == PrinterCountReplyLayout::kSize);

// Printer request (server to client): code MSG_GET_PRINTER, 0-based index in the client's list.
struct PrinterRequestLayout {
  static constexpr std::size_t kIndex = 4;
  static constexpr std::size_t kSize = 8;
};
static_assert(PrinterRequestLayout::kIndex == kMessageCodeSize);
static_assert(PrinterRequestLayout::kIndex + 4 == PrinterRequestLayout::kSize);

// Printer record (client to server): code MSG_GET_PRINTER, name offset, default flag; then the
// variable area with the NUL-terminated name.
struct PrinterRecordLayout {
  static constexpr std::size_t kNameOffset = 4;
  static constexpr std::size_t kDefaultFlag = 8;
  static constexpr std::size_t kFixedSize = 12;
};
static_assert(PrinterRecordLayout::kNameOffset == kMessageCodeSize);
static_assert(PrinterRecordLayout::kNameOffset + 4 == PrinterRecordLayout::kDefaultFlag);
static_assert(PrinterRecordLayout::kDefaultFlag + 4 == PrinterRecordLayout::kFixedSize);

struct PrinterRecord {
  std::u16string name;
  bool isDefault = false;

  bool operator==(const PrinterRecord&) const = default;
};

std::vector<uint8_t> BuildPrinterCountRequest();
std::vector<uint8_t> BuildPrinterCountReply(uint32_t count);
std::vector<uint8_t> BuildPrinterRequest(uint32_t index);
std::vector<uint8_t> BuildPrinterRecord(std::u16string_view name, bool isDefault);

// Each parser returns nullopt for a message with another code, one shorter than its fixed part,
// or one whose variable items do not lie inside it.
std::optional<uint32_t> ParsePrinterCountReply(std::span<const uint8_t> message);
// Returns the requested index.
std::optional<uint32_t> ParsePrinterRequest(std::span<const uint8_t> message);
// Any non-zero default flag counts as set.
std::optional<PrinterRecord> ParsePrinterRecord(std::span<const uint8_t> message);

}  // namespace quil
