// Holds back or refuses the threads a loaded module starts through its CreateThread import. Held,
// every thread starts suspended until the gate opens, which resumes them all: tests use it to
// deliver several messages to the add-in before any of its workers runs. Refused, every attempt
// fails as on a process out of memory or threads.
#pragma once

#include <windows.h>

#include <vector>

#include "ImportPatch.h"
#include "SimLock.h"
#include "UniqueHandle.h"

namespace quil::test {

class AddinThreadGate {
 public:
  enum class Mode { kHold, kRefuse };

  // Redirects the module's CreateThread import; false if the module does not import it.
  bool Close(HMODULE module, Mode mode = Mode::kHold);
  // Resumes the held threads and restores the import.
  void Open();
  ~AddinThreadGate() { Open(); }

  size_t HeldThreads();
  size_t RefusedThreads();

 private:
  static HANDLE WINAPI CreateHeldThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                        LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                        DWORD flags, LPDWORD threadId);
  static HANDLE WINAPI RefuseThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                    LPTHREAD_START_ROUTINE start, LPVOID parameter, DWORD flags,
                                    LPDWORD threadId);
  void Hold(HANDLE thread);

  ImportPatch patch_;
  sim::CriticalSection lock_;
  std::vector<UniqueHandle> held_;
  size_t refused_ = 0;
};

}  // namespace quil::test
