#include "WorkerThread.h"

#include <cstddef>

#include "AddinModule.h"
#include "CriticalSection.h"
#include "UniqueHandle.h"

namespace quil {

namespace {

// The number of running workers, and an event set while it is 0.
class WorkerCount {
 public:
  WorkerCount() : none_(CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

  void Add() {
    ScopedLock hold(lock_);
    if (count_++ == 0) ResetEvent(none_.get());
  }
  void Remove() {
    ScopedLock hold(lock_);
    if (--count_ == 0) SetEvent(none_.get());
  }
  bool WaitForNone(DWORD milliseconds) {
    return none_ && WaitForSingleObject(none_.get(), milliseconds) == WAIT_OBJECT_0;
  }

 private:
  CriticalSection lock_;
  std::size_t count_ = 0;
  UniqueHandle none_;
};

WorkerCount g_workers;

}  // namespace

bool EnterWorker() {
  HMODULE module = nullptr;
  // Any address inside the add-in names its module; the call counts one more reference on it.
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&EnterWorker), &module)) {
    return false;
  }
  g_workers.Add();
  return true;
}

void CancelWorker() {
  g_workers.Remove();
  FreeLibrary(AddinModule());
}

void ExitWorker() {
  g_workers.Remove();
  FreeLibraryAndExitThread(AddinModule(), 0);
}

bool WaitForWorkers(DWORD milliseconds) { return g_workers.WaitForNone(milliseconds); }

}  // namespace quil
