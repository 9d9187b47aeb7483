#include "SessionChangeQueue.h"

#include <climits>

namespace quil {

SessionChangeQueue::SessionChangeQueue() : queued_(CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)) {}

void SessionChangeQueue::Push(const SessionChange& change) {
  {
    ScopedLock lock(lock_);
    changes_.push_back(change);
  }
  ReleaseSemaphore(queued_.get(), 1, nullptr);
}

SessionChange SessionChangeQueue::Pop() {
  if (WaitForSingleObject(queued_.get(), INFINITE) != WAIT_OBJECT_0) return {SessionChangeKind::Stop, 0};
  ScopedLock lock(lock_);
  const SessionChange change = changes_.front();
  changes_.pop_front();
  return change;
}

}  // namespace quil
