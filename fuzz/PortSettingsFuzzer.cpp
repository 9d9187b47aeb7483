// Parses arbitrary bytes as a port settings block; every string must end inside the block, and
// the settings must survive being built and parsed again.
#include "FuzzCheck.h"
#include "PortSettingsBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const auto settings = ParsePortSettingsBlock({data, size});
  if (!settings) return 0;
  for (const auto* text : {&settings->portName, &settings->clientPrinterName, &settings->userName}) {
    fuzz::Require(2 * (text->size() + 1) <= size - PortSettingsLayout::kStringArea);
  }
  const auto rebuilt = BuildPortSettingsBlock(*settings);
  fuzz::Require(ParsePortSettingsBlock(rebuilt) == settings);
  return 0;
}
