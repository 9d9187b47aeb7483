// Small owning wrappers for Win32 handles: each closes its handle exactly once, on every path.
#pragma once

#include <windows.h>

#include <utility>

namespace quil {

// Owns a handle of one kind; Traits supply the invalid value and the closing call.
template <typename Traits>
class UniqueResource {
 public:
  using Handle = typename Traits::Handle;

  UniqueResource() = default;
  explicit UniqueResource(Handle handle) : handle_(handle) {}
  ~UniqueResource() { reset(); }

  UniqueResource(UniqueResource&& other) noexcept : handle_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != Traits::Invalid(); }

  Handle release() { return std::exchange(handle_, Traits::Invalid()); }
  void reset(Handle handle = Traits::Invalid()) {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::Invalid()) Traits::Close(old);
  }
  // For APIs that return a handle through an out-parameter; closes the current one first.
  Handle* put() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle handle) { CloseHandle(handle); }
};

struct LocalMemoryTraits {
  using Handle = HLOCAL;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle memory) { LocalFree(memory); }
};

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle module) { FreeLibrary(module); }
};

// Events, mutexes, threads, tokens: null is the invalid value.
using UniqueHandle = UniqueResource<KernelHandleTraits>;
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;

// Releases a mutex acquired by a successful wait when the scope ends.
class MutexReleaser {
 public:
  explicit MutexReleaser(HANDLE mutex) : mutex_(mutex) {}
  ~MutexReleaser() {
    if (mutex_) ReleaseMutex(mutex_);
  }
  MutexReleaser(const MutexReleaser&) = delete;
  MutexReleaser& operator=(const MutexReleaser&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace quil
