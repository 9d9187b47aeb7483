#include "CQuilSessionRegistry.h"

namespace quil {

class CQuilSessionRegistry::Lock {
 public:
  explicit Lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~Lock() { LeaveCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

namespace {

// Constructed when the library is loaded, destroyed when it is unloaded.
CQuilSessionRegistry g_registry;

}  // namespace

CQuilSessionRegistry& CQuilSessionRegistry::Instance() { return g_registry; }

CQuilSessionRegistry::CQuilSessionRegistry() { InitializeCriticalSection(&lock_); }

CQuilSessionRegistry::~CQuilSessionRegistry() {
  for (auto& [id, session] : sessions_) static_cast<void>(session.release());
  DeleteCriticalSection(&lock_);
}

void CQuilSessionRegistry::Logon(DWORD sessionId, const wchar_t* userName, HANDLE userToken) {
  Lock lock(lock_);
  if (sessions_.count(sessionId)) return;
  auto session = std::make_unique<CQuilUserSession>(sessionId, userName, userToken);
  session->Logon();
  sessions_.emplace(sessionId, std::move(session));
}

void CQuilSessionRegistry::Logoff(DWORD sessionId) {
  Lock lock(lock_);
  auto found = sessions_.find(sessionId);
  if (found == sessions_.end()) return;
  found->second->Stop();
  sessions_.erase(found);
}

bool CQuilSessionRegistry::IsRegistered(DWORD sessionId) {
  Lock lock(lock_);
  return sessions_.count(sessionId) != 0;
}

}  // namespace quil
