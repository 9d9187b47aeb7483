// The client's answers to printer-list requests, from its fixed list of printers.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quil {

struct PrinterSnapshot {
  std::vector<std::u16string> names;  // in the order the spooler enumerated them
  std::u16string defaultName;         // empty when the user has no default printer
};

// Every reply the list can give, built once, so that answering a request takes no memory and the
// reply stays in place for as long as this object lives.
class PrinterListAnswers {
 public:
  // No printers: the count reply says 0.
  PrinterListAnswers();
  explicit PrinterListAnswers(const PrinterSnapshot& snapshot);

  // The reply to one request: the count reply for MSG_GET_PRINTERS, the printer record for
  // MSG_GET_PRINTER (default flag set when the name equals the default name exactly, letter case
  // included). Empty, meaning no reply, for any other code, a request too short for its fields,
  // or an index not below the number of printers.
  std::span<const uint8_t> For(std::span<const uint8_t> request) const;
  // Whether the list holds a printer of exactly this name, letter case included.
  bool Reports(std::u16string_view name) const;

 private:
  std::vector<std::u16string> names_;
  std::vector<uint8_t> countReply_;
  std::vector<std::vector<uint8_t>> records_;  // by index
};

}  // namespace quil
