// Runs one piece of work on a new short-lived thread that owns it. Workers are counted, so that
// the client's termination can wait for them, and each holds a reference on the add-in's module,
// so that the add-in stays loaded until its last worker has left the add-in's code.
#pragma once

#include <windows.h>

#include <memory>

namespace quil {

// Counts a worker about to start and takes its reference on the module; false, with nothing
// taken, if the reference cannot be had.
bool EnterWorker();
// Gives back what EnterWorker took for a worker whose thread could not be started.
void CancelWorker();
// A worker's last step: leaves the count and ends the thread as it drops the module reference,
// so that the thread never returns into the add-in.
[[noreturn]] void ExitWorker();
// Waits at most `milliseconds` until no worker runs; true when none runs.
bool WaitForWorkers(DWORD milliseconds);

template <typename Work>
void RunOwnedWork(LPVOID parameter) {
  std::unique_ptr<Work> work(static_cast<Work*>(parameter));
  try {
    work->Run();
  } catch (...) {
    // Nothing escapes a thread of the add-in.
  }
}

template <typename Work>
DWORD WINAPI RunWork(LPVOID parameter) {
  RunOwnedWork<Work>(parameter);  // the work and all it held are freed before the thread ends
  ExitWorker();
}

// Starts `work->Run()` on a thread of its own (default stack, no flags), which then frees the work.
// If no thread can be started the work is freed here and does not run.
template <typename Work>
bool StartWorker(std::unique_ptr<Work> work) {
  if (!EnterWorker()) return false;
  HANDLE thread = CreateThread(nullptr, 0, &RunWork<Work>, work.get(), 0, nullptr);
  if (!thread) {
    CancelWorker();
    return false;
  }
  work.release();
  CloseHandle(thread);
  return true;
}

}  // namespace quil
