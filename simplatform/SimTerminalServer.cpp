#include "SimTerminalServer.h"

#include <wtsapi32.h>

#include <algorithm>
#include <cstring>

namespace sim {

SimTerminalServer& SimTerminalServer::Instance() {
  static SimTerminalServer server;
  return server;
}

void SimTerminalServer::Reset() {
  Guard guard(lock_);
  sessions_.clear();
  tokens_.clear();
  enumerationError_ = 0;
  enumerations_ = 0;
}

void SimTerminalServer::AddSession(DWORD id, const std::wstring& winStationName, const std::wstring& userName,
                                   const std::wstring& domainName) {
  Guard guard(lock_);
  sessions_.push_back({id, winStationName, userName, domainName, nullptr});
}

void SimTerminalServer::FailEnumeration(DWORD error) {
  Guard guard(lock_);
  enumerationError_ = error;
}

HANDLE SimTerminalServer::IssuedToken(DWORD sessionId) {
  Guard guard(lock_);
  SimSession* session = Find(sessionId);
  return session ? session->issuedToken : nullptr;
}

size_t SimTerminalServer::Enumerations() {
  Guard guard(lock_);
  return enumerations_;
}

size_t SimTerminalServer::OutstandingAllocations() {
  Guard guard(lock_);
  return allocations_.size();
}

SimSession* SimTerminalServer::Find(DWORD id) {
  auto found = std::find_if(sessions_.begin(), sessions_.end(), [id](const SimSession& s) { return s.id == id; });
  return found == sessions_.end() ? nullptr : &*found;
}

void* SimTerminalServer::Allocate(size_t bytes) {
  void* block = ::operator new(bytes);
  allocations_.push_back(block);
  return block;
}

void SimTerminalServer::FreeMemory(void* memory) {
  Guard guard(lock_);
  auto found = std::find(allocations_.begin(), allocations_.end(), memory);
  if (found == allocations_.end()) return;  // not ours: never free what was not handed out
  allocations_.erase(found);
  ::operator delete(memory);
}

// One block: the array of session records, then the window-station names they point into.
BOOL SimTerminalServer::EnumerateSessions(WTS_SESSION_INFOW** sessions, DWORD* count) {
  Guard guard(lock_);
  if (enumerationError_) {
    SetLastError(enumerationError_);
    return FALSE;
  }
  size_t bytes = sessions_.size() * sizeof(WTS_SESSION_INFOW);
  for (const SimSession& session : sessions_) bytes += (session.winStationName.size() + 1) * sizeof(wchar_t);
  auto* records = static_cast<WTS_SESSION_INFOW*>(Allocate(bytes ? bytes : 1));
  auto* names = reinterpret_cast<wchar_t*>(records + sessions_.size());
  for (size_t i = 0; i < sessions_.size(); ++i) {
    const SimSession& session = sessions_[i];
    std::memcpy(names, session.winStationName.c_str(), (session.winStationName.size() + 1) * sizeof(wchar_t));
    records[i].SessionId = session.id;
    records[i].pWinStationName = names;
    records[i].State = session.userName.empty() ? WTSListen : WTSActive;
    names += session.winStationName.size() + 1;
  }
  ++enumerations_;
  *sessions = records;
  *count = static_cast<DWORD>(sessions_.size());
  return TRUE;
}

// A session with a user gets a fresh primary token of this process; others have none.
BOOL SimTerminalServer::QueryUserToken(DWORD sessionId, HANDLE* token) {
  Guard guard(lock_);
  SimSession* session = Find(sessionId);
  if (!session || session->userName.empty()) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  quil::UniqueHandle processToken;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, processToken.put())) return FALSE;
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(processToken.get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, TokenPrimary,
                        &primary)) {
    return FALSE;
  }
  tokens_.emplace_back(primary);
  session->issuedToken = primary;
  *token = primary;
  return TRUE;
}

BOOL SimTerminalServer::QuerySessionText(DWORD sessionId, int infoClass, LPWSTR* buffer, DWORD* bytes) {
  Guard guard(lock_);
  SimSession* session = Find(sessionId);
  const std::wstring* text = nullptr;
  if (session && infoClass == WTSUserName) text = &session->userName;
  if (session && infoClass == WTSDomainName) text = &session->domainName;
  if (session && infoClass == WTSWinStationName) text = &session->winStationName;
  if (!text) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD size = static_cast<DWORD>((text->size() + 1) * sizeof(wchar_t));
  *buffer = static_cast<LPWSTR>(Allocate(size));
  std::memcpy(*buffer, text->c_str(), size);
  *bytes = size;
  return TRUE;
}

}  // namespace sim

// The terminal-services calls of this executable.
extern "C" {

WINBOOL WINAPI WTSEnumerateSessionsW(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW* sessions, DWORD* count) {
  return sim::SimTerminalServer::Instance().EnumerateSessions(sessions, count);
}

WINBOOL WINAPI WTSQueryUserToken(ULONG sessionId, PHANDLE token) {
  return sim::SimTerminalServer::Instance().QueryUserToken(sessionId, token);
}

WINBOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                           DWORD* bytes) {
  return sim::SimTerminalServer::Instance().QuerySessionText(sessionId, infoClass, buffer, bytes);
}

VOID WINAPI WTSFreeMemory(PVOID memory) { sim::SimTerminalServer::Instance().FreeMemory(memory); }

}  // extern "C"
