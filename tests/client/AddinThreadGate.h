// Holds back the threads a loaded module starts: while the gate is closed, every thread the module
// creates through its CreateThread import starts suspended, and opening the gate resumes them all.
// Tests use it to deliver several messages to the add-in before any of its workers runs.
#pragma once

#include <windows.h>

#include <vector>

#include "SimLock.h"
#include "UniqueHandle.h"

namespace quil::test {

class AddinThreadGate {
 public:
  // Redirects the module's CreateThread import; false if the module does not import it.
  bool Close(HMODULE module);
  // Resumes the held threads and restores the import.
  void Open();
  ~AddinThreadGate() { Open(); }

  size_t HeldThreads();

 private:
  static HANDLE WINAPI CreateHeldThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                        DWORD flags, LPDWORD threadId);
  void Hold(HANDLE thread);

  void** slot_ = nullptr;
  void* original_ = nullptr;
  sim::CriticalSection lock_;
  std::vector<UniqueHandle> held_;
};

}  // namespace quil::test
