// Runs one piece of work on a new short-lived thread that owns it.
#pragma once

#include <windows.h>

#include <memory>

namespace quil {

template <typename Work>
DWORD WINAPI RunWork(LPVOID parameter) {
  std::unique_ptr<Work> work(static_cast<Work*>(parameter));
  try {
    work->Run();
  } catch (...) {
    // Nothing escapes a thread of the add-in; the message stays unanswered.
  }
  return 0;
}

// Starts `work->Run()` on a thread of its own (default stack, no flags), which then frees the work.
// If no thread can be started the work is freed here and does not run.
template <typename Work>
bool StartWorker(std::unique_ptr<Work> work) {
  HANDLE thread = CreateThread(nullptr, 0, &RunWork<Work>, work.get(), 0, nullptr);
  if (!thread) return false;
  work.release();
  CloseHandle(thread);
  return true;
}

}  // namespace quil
