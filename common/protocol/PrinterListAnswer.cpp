#include "PrinterListAnswer.h"

#include <algorithm>

#include "MessageCodes.h"
#include "PrinterListMessages.h"

namespace quil {

PrinterListAnswers::PrinterListAnswers() : countReply_(BuildPrinterCountReply(0)) {}

PrinterListAnswers::PrinterListAnswers(const PrinterSnapshot& snapshot)
    : names_(snapshot.names), countReply_(BuildPrinterCountReply(static_cast<uint32_t>(snapshot.names.size()))) {
  records_.reserve(snapshot.names.size());
  for (const std::u16string& name : snapshot.names) {
    records_.push_back(
        BuildPrinterRecord(name, !snapshot.defaultName.empty() && name == snapshot.defaultName));
  }
}

std::span<const uint8_t> PrinterListAnswers::For(std::span<const uint8_t> request) const {
  const auto code = ReadMessageCode(request);
  if (code == MSG_GET_PRINTERS) return countReply_;
  if (code != MSG_GET_PRINTER) return {};
  const auto index = ParsePrinterRequest(request);
  if (!index || *index >= records_.size()) return {};
  return records_[*index];
}

bool PrinterListAnswers::Reports(std::u16string_view name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

}  // namespace quil
