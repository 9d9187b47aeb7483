// Parses arbitrary bytes as a job start; each name must fit in the variable area, and the job
// start must survive being built and parsed again.
#include "FuzzCheck.h"
#include "SpoolMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  const auto job = ParseJobStart({data, size});
  if (!job) return 0;
  const std::size_t variableSize = size - JobStartLayout::kFixedSize;
  fuzz::Require(2 * (job->printerName.size() + 1) <= variableSize);
  fuzz::Require(2 * (job->documentName.size() + 1) <= variableSize);
  fuzz::Require(ParseJobStart(BuildJobStart(job->devMode, job->printerName, job->documentName)) ==
                job);
  return 0;
}
