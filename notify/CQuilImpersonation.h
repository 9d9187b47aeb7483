// Acts as the session's user on the calling thread for the life of the object, and returns to
// the thread's own identity when it ends.
#pragma once

#include <windows.h>

namespace quil {

class CQuilImpersonation {
 public:
  explicit CQuilImpersonation(HANDLE userToken);
  ~CQuilImpersonation();
  CQuilImpersonation(const CQuilImpersonation&) = delete;
  CQuilImpersonation& operator=(const CQuilImpersonation&) = delete;

  // False when impersonation failed: the thread still acts as itself, so per-user settings must
  // not be touched.
  bool Active() const { return active_; }

 private:
  bool active_;
};

}  // namespace quil
