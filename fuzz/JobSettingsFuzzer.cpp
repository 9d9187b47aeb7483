// Merges arbitrary job settings into an arbitrary printer DEVMODEW: the input's first 220 bytes
// are the job's block, the rest the printer's public part. Only the merged settings and the mask
// may change, each merged byte comes from the job, and the mask only gains the job's bits.
#include <algorithm>
#include <vector>

#include "FuzzCheck.h"
#include "JobSettings.h"

namespace {

bool InMergedSetting(std::size_t position) {
  for (const quil::JobSetting& setting : quil::MergedJobSettings()) {
    if (position >= setting.offset && position < setting.offset + setting.size) return true;
  }
  return false;
}

uint32_t ReadMask(const std::vector<uint8_t>& block) {
  const std::size_t at = quil::DevModeLayout::kFields;
  return uint32_t{block[at]} | uint32_t{block[at + 1]} << 8 | uint32_t{block[at + 2]} << 16 |
         uint32_t{block[at + 3]} << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  DevModeBlock job{};
  std::copy_n(data, std::min(size, job.size()), job.begin());
  const std::vector<uint8_t> before(data + std::min(size, job.size()), data + size);
  std::vector<uint8_t> printer = before;  // sized exactly, so a write past it is caught
  const bool merged = MergeJobSettings(job, printer);
  if (!merged) {
    fuzz::Require(printer == before);
    return 0;
  }
  uint32_t jobBits = 0;
  for (const JobSetting& setting : MergedJobSettings()) jobBits |= setting.fieldBit;
  const std::size_t maskAt = DevModeLayout::kFields;
  for (std::size_t i = 0; i < printer.size(); ++i) {
    if (i >= maskAt && i < maskAt + 4) continue;
    fuzz::Require(printer[i] == before[i] || (InMergedSetting(i) && printer[i] == job[i]));
  }
  const uint32_t oldMask = ReadMask(before);
  const uint32_t newMask = ReadMask(printer);
  fuzz::Require((newMask & oldMask) == oldMask);
  fuzz::Require((newMask & ~oldMask & ~jobBits) == 0);
  return 0;
}
