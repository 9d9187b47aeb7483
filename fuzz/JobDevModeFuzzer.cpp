// Takes arbitrary bytes as a job's DEVMODEW and as an Xcv port name: the device-mode block holds
// the input's first dmSize bytes (at most 220, at most the input) and zeros after them; a port
// name ends at a NUL inside the input.
#include <algorithm>

#include "FuzzCheck.h"
#include "JobDevMode.h"
#include "JobSettings.h"
#include "XcvPortName.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const auto block = DevModeBlockOf({data, size});
  size_t copied = 0;
  if (size >= DevModeLayout::kSize + 2) {
    const size_t declared = data[DevModeLayout::kSize] | data[DevModeLayout::kSize + 1] << 8;
    copied = std::min({declared, block.size(), size});
  }
  fuzz::Require(std::equal(block.begin(), block.begin() + copied, data));
  fuzz::Require(std::all_of(block.begin() + copied, block.end(), [](uint8_t byte) { return byte == 0; }));

  const auto name = ParseXcvPortName({data, size});
  if (name) fuzz::Require(!name->empty() && 2 * (name->size() + 1) <= size);
  return 0;
}
