// The session changes that the control handler hands to the service's worker thread, in the order
// they came: the handler only queues them and returns, the worker takes them one at a time.
#pragma once

#include <windows.h>

#include <deque>

#include "CriticalSection.h"
#include "UniqueHandle.h"

namespace quil {

enum class SessionChangeKind { Logon, Logoff, RemoteDisconnect, RemoteConnect, Stop };

struct SessionChange {
  SessionChangeKind kind;
  DWORD sessionId;
};

class SessionChangeQueue {
 public:
  SessionChangeQueue();
  SessionChangeQueue(const SessionChangeQueue&) = delete;
  SessionChangeQueue& operator=(const SessionChangeQueue&) = delete;

  // Queues the change and returns at once.
  void Push(const SessionChange& change);
  // The oldest queued change, waiting without a time limit until there is one. A wait that fails
  // yields a stop, so that the worker ends rather than spins.
  SessionChange Pop();

 private:
  CriticalSection lock_;
  std::deque<SessionChange> changes_;
  UniqueHandle queued_;  // semaphore: one count per queued change
};

}  // namespace quil
