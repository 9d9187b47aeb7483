// Answers arbitrary requests from a small printer list: the first input byte sets how many
// printers the list holds (0 to 7, the second one being the default), the rest is the request.
// A count reply carries the list's size; a printer record names the printer at a valid index.
#include <string>

#include "FuzzCheck.h"
#include "MessageCodes.h"
#include "PrinterListAnswer.h"
#include "PrinterListMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  if (size == 0) return 0;
  PrinterSnapshot snapshot;
  for (int i = 0; i < (data[0] & 7); ++i) {
    snapshot.names.push_back(u"P" + std::u16string(1, static_cast<char16_t>(u'0' + i)));
  }
  snapshot.defaultName = u"P1";
  const std::span<const uint8_t> request(data + 1, size - 1);
  const PrinterListAnswers answers(snapshot);
  const auto reply = answers.For(request);
  if (reply.empty()) return 0;
  const auto code = ReadMessageCode(request);
  fuzz::Require(code == MSG_GET_PRINTERS || code == MSG_GET_PRINTER);
  if (code == MSG_GET_PRINTERS) {
    fuzz::Require(ParsePrinterCountReply(reply) == snapshot.names.size());
    return 0;
  }
  const auto index = ParsePrinterRequest(request);
  fuzz::Require(index && *index < snapshot.names.size());
  const auto record = ParsePrinterRecord(reply);
  fuzz::Require(record && record->name == snapshot.names[*index]);
  fuzz::Require(record->isDefault == (*index == 1));
  fuzz::Require(reply.size() == PrinterRecordLayout::kFixedSize + 2 * (record->name.size() + 1));
  return 0;
}
