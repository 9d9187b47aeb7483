// The process-wide registry of logged-on sessions: at most one session object per session id,
// created at logon and stopped and destroyed at logoff. One lock serialises every logon and logoff.
#pragma once

#include <windows.h>

#include <map>
#include <memory>

#include "CQuilUserSession.h"

namespace quil {

class CQuilSessionRegistry {
 public:
  static CQuilSessionRegistry& Instance();

  CQuilSessionRegistry();
  // Sessions still registered at unload are left alone: their threads may still run.
  ~CQuilSessionRegistry();
  CQuilSessionRegistry(const CQuilSessionRegistry&) = delete;
  CQuilSessionRegistry& operator=(const CQuilSessionRegistry&) = delete;

  // A second logon for a registered session is ignored.
  void Logon(DWORD sessionId, const wchar_t* userName, HANDLE userToken);
  // Waits without a time limit for the session's thread to end; other callers wait meanwhile.
  void Logoff(DWORD sessionId);
  bool IsRegistered(DWORD sessionId);

 private:
  class Lock;

  CRITICAL_SECTION lock_;
  std::map<DWORD, std::unique_ptr<CQuilUserSession>> sessions_;
};

}  // namespace quil
