// The terminal server's sessions, enumerated once and freed with the object.
#pragma once

#include <windows.h>
#include <wtsapi32.h>

namespace quil {

class WtsSessionList {
 public:
  WtsSessionList() = default;
  ~WtsSessionList() {
    if (sessions_) WTSFreeMemory(sessions_);
  }
  WtsSessionList(const WtsSessionList&) = delete;
  WtsSessionList& operator=(const WtsSessionList&) = delete;

  bool Enumerate() {
    return WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &sessions_, &count_) != FALSE;
  }
  const WTS_SESSION_INFOW* begin() const { return sessions_; }
  const WTS_SESSION_INFOW* end() const { return sessions_ ? sessions_ + count_ : sessions_; }

 private:
  WTS_SESSION_INFOW* sessions_ = nullptr;
  DWORD count_ = 0;
};

}  // namespace quil
