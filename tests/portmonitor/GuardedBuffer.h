// Bytes placed directly in front of a page that may not be touched, so that a read past their
// end faults at once instead of going unnoticed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace quil::test {

class GuardedBuffer {
 public:
  explicit GuardedBuffer(const std::vector<uint8_t>& bytes) {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    page_ = system.dwPageSize;
    const size_t dataPages = (bytes.size() + page_ - 1) / page_ + 1;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, (dataPages + 1) * page_, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    DWORD old = 0;
    VirtualProtect(base_ + dataPages * page_, page_, PAGE_NOACCESS, &old);
    data_ = base_ + dataPages * page_ - bytes.size();
    if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
    size_ = static_cast<DWORD>(bytes.size());
  }
  ~GuardedBuffer() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;

  uint8_t* data() const { return data_; }
  DWORD size() const { return size_; }

 private:
  size_t page_ = 0;
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  DWORD size_ = 0;
};

}  // namespace quil::test
