// The client's answers to printer-list requests, from its fixed list of printers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quil {

struct PrinterSnapshot {
  std::vector<std::u16string> names;  // in the order the spooler enumerated them
  std::u16string defaultName;         // empty when the user has no default printer
};

// The reply to one request: the count reply for MSG_GET_PRINTERS, the printer record for
// MSG_GET_PRINTER (default flag set when the name equals the default name exactly, letter case
// included). nullopt, meaning no reply, for any other code, a request too short for its fields,
// or an index not below the number of printers.
std::optional<std::vector<uint8_t>> AnswerPrinterListRequest(std::span<const uint8_t> request,
                                                             const PrinterSnapshot& snapshot);

}  // namespace quil
