// Reads arbitrary bytes as spool data, delivered in pieces whose sizes the input's first byte
// sets; every page must come out of the data, and reading must end.
#include <algorithm>
#include <vector>

#include "EmfSpoolReader.h"
#include "FuzzCheck.h"
#include "JobSettings.h"

namespace {

class BytesSource : public quil::IQuilSpoolSource {
 public:
  BytesSource(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
  size_t Read(uint8_t* buffer, size_t size) override {
    const size_t length = std::min({size, piece_, size_ - position_});
    std::copy_n(data_ + position_, length, buffer);
    position_ += length;
    return length;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  BytesSource source(data + 1, size - 1, data[0] % 16 + 1);
  quil::CQuilSpoolReader reader(source);
  if (!reader.ReadHeader()) return 0;
  std::vector<uint8_t> page;
  size_t pageBytes = 0;
  quil::SpoolPageSettings settings;
  quil::SpoolPageSettings* wanted = (data[0] & 0x80) ? &settings : nullptr;
  while (reader.NextPage(page, 0, wanted)) {
    quil::fuzz::Require(!page.empty());
    // Settings taken from a record always state dmFields.
    const std::size_t publicSize =
        settings.devMode[quil::DevModeLayout::kSize] | settings.devMode[quil::DevModeLayout::kSize + 1] << 8;
    quil::fuzz::Require(!settings.changed || publicSize >= quil::DevModeLayout::kFields + 4);
    pageBytes += page.size();
    quil::fuzz::Require(pageBytes <= size);
  }
  return 0;
}
