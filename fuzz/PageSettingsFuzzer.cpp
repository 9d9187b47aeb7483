// Parses arbitrary bytes as the extension's messages: a job-start acknowledgement (its
// capabilities) and page settings, which must survive being built and parsed again.
#include "FuzzCheck.h"
#include "SpoolExtension.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const uint32_t capabilities = ParseJobStartAck({data, size});
  fuzz::Require(capabilities == 0 || size >= JobStartAckLayout::kExtendedSize);
  fuzz::Require(ParseJobStartAck(BuildJobStartAck(capabilities)) == capabilities);
  const auto settings = ParsePageSettings({data, size});
  if (!settings) return 0;
  fuzz::Require(size >= PageSettingsLayout::kFixedSize);
  fuzz::Require(ParsePageSettings(BuildPageSettings(*settings)) == settings);
  return 0;
}
