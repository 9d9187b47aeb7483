// Parses arbitrary bytes as a printer record; the name must fit in the variable area, and the
// record must survive being built and parsed again.
#include "FuzzCheck.h"
#include "PrinterListMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const auto record = ParsePrinterRecord({data, size});
  if (!record) return 0;
  fuzz::Require(2 * (record->name.size() + 1) <= size - PrinterRecordLayout::kFixedSize);
  fuzz::Require(ParsePrinterRecord(BuildPrinterRecord(record->name, record->isDefault)) == record);
  return 0;
}
