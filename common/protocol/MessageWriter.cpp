#include "MessageWriter.h"

#include <algorithm>
#include <cassert>

#include "MessageCodes.h"

namespace quil {

CQuilMessageWriter::CQuilMessageWriter(uint32_t code, std::size_t fixedSize,
                                       std::size_t variableSize)
    : block_(fixedSize + variableSize), fixedSize_(fixedSize), freeEnd_(block_.size()) {
  assert(fixedSize >= kMessageCodeSize);
  assert(static_cast<uint64_t>(block_.size()) <= UINT32_MAX);
  PutU32(kMessageCodeOffset, code);
}

std::size_t CQuilMessageWriter::StringSize(std::u16string_view text) {
  return 2 * (text.size() + 1);
}

void CQuilMessageWriter::PutU32(std::size_t position, uint32_t value) {
  assert(position + 4 <= fixedSize_);
  for (std::size_t i = 0; i < 4; ++i) block_[position + i] = static_cast<uint8_t>(value >> 8 * i);
}

void CQuilMessageWriter::PutBytes(std::size_t position, std::span<const uint8_t> bytes) {
  assert(position + bytes.size() <= fixedSize_);
  std::copy(bytes.begin(), bytes.end(), block_.data() + position);
}

std::size_t CQuilMessageWriter::Claim(std::size_t size) {
  assert(size <= freeEnd_ - fixedSize_);
  freeEnd_ -= size;
  return freeEnd_;
}

uint32_t CQuilMessageWriter::LayInString(std::u16string_view text) {
  std::size_t position = Claim(StringSize(text));
  const std::size_t offset = position - fixedSize_;
  for (const char16_t unit : text) {
    block_[position++] = static_cast<uint8_t>(unit);
    block_[position++] = static_cast<uint8_t>(unit >> 8);
  }
  // The terminating NUL is already there: the block starts zeroed.
  return static_cast<uint32_t>(offset);
}

uint32_t CQuilMessageWriter::LayInBytes(std::span<const uint8_t> bytes) {
  const std::size_t position = Claim(bytes.size());
  std::copy(bytes.begin(), bytes.end(), block_.data() + position);
  return static_cast<uint32_t>(position - fixedSize_);
}

}  // namespace quil
