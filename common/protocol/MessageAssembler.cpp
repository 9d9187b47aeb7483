#include "MessageAssembler.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <stdexcept>
#include <utility>

namespace quil {

namespace {

// Reserves `size` bytes in an empty buffer; false if the memory cannot be had.
bool TryReserve(std::vector<uint8_t>& buffer, std::size_t size) {
  try {
    buffer.reserve(size);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;  // more than a vector can hold (a 32-bit process)
  }
}

}  // namespace

CQuilMessageAssembler::Result CQuilMessageAssembler::AddChunk(std::span<const uint8_t> data,
                                                              uint32_t totalLength,
                                                              uint32_t flags) {
  if (Starts(flags) && !Begin(totalLength, data)) return Refuse();
  if (!inProgress_ || data.size() > total_ - buffer_.size()) return Refuse();
  buffer_.insert(buffer_.end(), data.begin(), data.end());
  if (!(flags & kChunkFlagLast)) return Result::kNeedMore;
  if (buffer_.size() != total_) return Refuse();
  inProgress_ = false;
  return Result::kComplete;
}

std::vector<uint8_t> CQuilMessageAssembler::TakeMessage() {
  if (inProgress_) return {};
  return std::exchange(buffer_, {});
}

bool CQuilMessageAssembler::Starts(uint32_t flags) const {
  return rule_ == StartRule::kFirstFlag ? (flags & kChunkFlagFirst) != 0 : !inProgress_;
}

void CQuilMessageAssembler::Recycle(std::vector<uint8_t> storage) {
  if (storage.capacity() > spare_.capacity()) spare_ = std::move(storage);
}

bool CQuilMessageAssembler::Begin(uint32_t totalLength, std::span<const uint8_t> start) {
  const uint32_t limit = bound_ ? std::min(maxTotal_, bound_(start)) : maxTotal_;
  if (totalLength == 0 || totalLength > limit) return false;
  const std::size_t grown = std::min<std::size_t>(2 * spare_.capacity(), limit);
  buffer_ = std::exchange(spare_, {});
  buffer_.clear();
  if (buffer_.capacity() < totalLength && !ReserveFresh(totalLength, grown)) return false;
  total_ = totalLength;
  inProgress_ = true;
  return true;
}

bool CQuilMessageAssembler::ReserveFresh(std::size_t needed, std::size_t grown) {
  buffer_ = {};  // the spare that did not fit is given up first
  if (grown > needed && TryReserve(buffer_, grown)) return true;
  return TryReserve(buffer_, needed);
}

CQuilMessageAssembler::Result CQuilMessageAssembler::Refuse() {
  inProgress_ = false;
  buffer_ = {};
  return Result::kRefused;
}

}  // namespace quil
