#include "PrinterListAnswer.h"

#include "MessageCodes.h"
#include "PrinterListMessages.h"

namespace quil {

std::optional<std::vector<uint8_t>> AnswerPrinterListRequest(std::span<const uint8_t> request,
                                                             const PrinterSnapshot& snapshot) {
  const auto code = ReadMessageCode(request);
  if (code == MSG_GET_PRINTERS) {
    return BuildPrinterCountReply(static_cast<uint32_t>(snapshot.names.size()));
  }
  if (code != MSG_GET_PRINTER) return std::nullopt;
  const auto index = ParsePrinterRequest(request);
  if (!index || *index >= snapshot.names.size()) return std::nullopt;
  const std::u16string& name = snapshot.names[*index];
  return BuildPrinterRecord(name, !snapshot.defaultName.empty() && name == snapshot.defaultName);
}

}  // namespace quil
