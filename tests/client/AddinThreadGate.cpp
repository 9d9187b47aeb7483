#include "AddinThreadGate.h"

namespace quil::test {

namespace {

AddinThreadGate* g_gate = nullptr;

}  // namespace

bool AddinThreadGate::Close(HMODULE module, Mode mode) {
  g_gate = this;
  void* replacement = mode == Mode::kHold ? reinterpret_cast<void*>(&CreateHeldThread)
                                          : reinterpret_cast<void*>(&RefuseThread);
  return patch_.Apply(module, "kernel32.dll", "CreateThread", replacement);
}

void AddinThreadGate::Open() {
  patch_.Restore();
  sim::Guard hold(lock_);
  for (auto& thread : held_) ResumeThread(thread.get());
  held_.clear();
}

size_t AddinThreadGate::HeldThreads() {
  sim::Guard hold(lock_);
  return held_.size();
}

size_t AddinThreadGate::RefusedThreads() {
  sim::Guard hold(lock_);
  return refused_;
}

HANDLE WINAPI AddinThreadGate::CreateHeldThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stackSize,
                                                LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                                DWORD flags, LPDWORD threadId) {
  HANDLE thread = CreateThread(attributes, stackSize, start, parameter, flags | CREATE_SUSPENDED,
                               threadId);
  if (thread) g_gate->Hold(thread);
  return thread;
}

HANDLE WINAPI AddinThreadGate::RefuseThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                            LPVOID, DWORD, LPDWORD) {
  {
    sim::Guard hold(g_gate->lock_);
    ++g_gate->refused_;
  }
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return nullptr;
}

void AddinThreadGate::Hold(HANDLE thread) {
  // The module closes its handle at once; the gate keeps one of its own to resume the thread.
  HANDLE own = nullptr;
  DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &own, 0, FALSE,
                  DUPLICATE_SAME_ACCESS);
  sim::Guard hold(lock_);
  held_.emplace_back(own);
}

}  // namespace quil::test
