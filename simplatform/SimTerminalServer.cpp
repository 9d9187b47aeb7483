#include "SimTerminalServer.h"

#include <wtsapi32.h>

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

constexpr DWORD kUserRidBase = 1000;

// The session-user mark of a token: the last sub-authority of the first ACE's SID in its default
// DACL, when that SID has the form of the simulated users' SIDs.
std::optional<DWORD> UserRidOfToken(HANDLE token) {
  BYTE buffer[1024];
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenDefaultDacl, buffer, sizeof(buffer), &size)) return std::nullopt;
  PACL dacl = reinterpret_cast<TOKEN_DEFAULT_DACL*>(buffer)->DefaultDacl;
  void* ace = nullptr;
  if (!dacl || !GetAce(dacl, 0, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
    return std::nullopt;
  }
  PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
  const std::vector<uint8_t> expected = SimTerminalServer::UserSid(0);
  if (!IsValidSid(sid) || GetLengthSid(sid) != expected.size() ||
      std::memcmp(sid, expected.data(), expected.size() - 4) != 0) {
    return std::nullopt;
  }
  return *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
}

// Marks a token as the session user's: its default DACL grants that user's SID all access.
bool MarkToken(HANDLE token, DWORD sessionId) {
  std::vector<uint8_t> sid = SimTerminalServer::UserSid(sessionId);
  BYTE aclBuffer[128];
  auto* acl = reinterpret_cast<PACL>(aclBuffer);
  if (!InitializeAcl(acl, sizeof(aclBuffer), ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, sid.data())) {
    return false;
  }
  TOKEN_DEFAULT_DACL dacl{acl};
  return SetTokenInformation(token, TokenDefaultDacl, &dacl, sizeof(dacl)) != FALSE;
}

std::wstring Lowered(std::wstring text) {
  CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

}  // namespace

SimTerminalServer& SimTerminalServer::Instance() {
  static SimTerminalServer server;
  return server;
}

void SimTerminalServer::Reset() {
  Guard guard(lock_);
  sessions_.clear();
  lookedUpAccounts_.clear();
  enumerationError_ = 0;
  enumerations_ = 0;
}

void SimTerminalServer::AddSession(DWORD id, const std::wstring& winStationName, const std::wstring& userName,
                                   const std::wstring& domainName) {
  Guard guard(lock_);
  sessions_.push_back({id, winStationName, userName, domainName, nullptr, true});
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

std::vector<uint8_t> SimTerminalServer::UserSid(DWORD sessionId) {
  const DWORD subAuthorities[] = {21, 1000, 2000, 3000, kUserRidBase + sessionId};
  std::vector<uint8_t> sid{1, 5, 0, 0, 0, 0, 0, 5};  // revision 1, five sub-authorities, NT authority
  for (DWORD value : subAuthorities) {
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(value >> 8 * i));
  }
  return sid;
}

std::optional<DWORD> SimTerminalServer::SessionOfToken(HANDLE token) {
  const auto rid = UserRidOfToken(token);
  if (!rid || *rid < kUserRidBase) return std::nullopt;
  Guard guard(lock_);
  if (!Find(*rid - kUserRidBase)) return std::nullopt;
  return *rid - kUserRidBase;
}

std::wstring SimTerminalServer::CallingAccount() {
  HANDLE threadToken = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken)) return L"";
  quil::UniqueHandle token(threadToken);
  const auto sessionId = SessionOfToken(token.get());
  if (!sessionId) return L"?";
  Guard guard(lock_);
  const SimSession* session = Find(*sessionId);
  return session->domainName.empty() ? session->userName : session->domainName + L"\\" + session->userName;
}

std::optional<std::vector<uint8_t>> SimTerminalServer::CallingSid() {
  HANDLE threadToken = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken)) return std::nullopt;
  quil::UniqueHandle token(threadToken);
  const auto sessionId = SessionOfToken(token.get());
  return sessionId ? UserSid(*sessionId) : std::vector<uint8_t>();
}

void SimTerminalServer::SetAccountResolvable(DWORD sessionId, bool resolvable) {
  Guard guard(lock_);
  if (SimSession* session = Find(sessionId)) session->accountResolvable = resolvable;
}

std::vector<std::wstring> SimTerminalServer::LookedUpAccounts() {
  Guard guard(lock_);
  return lookedUpAccounts_;
}

BOOL SimTerminalServer::LookupAccount(LPCWSTR accountName, PSID sid, DWORD* sidSize, LPWSTR domain,
                                      DWORD* domainSize, SID_NAME_USE* use) {
  Guard guard(lock_);
  const std::wstring name = accountName ? accountName : L"";
  lookedUpAccounts_.push_back(name);
  const SimSession* match = nullptr;
  for (const SimSession& session : sessions_) {
    if (session.userName.empty() || !session.accountResolvable) continue;
    const std::wstring qualified = session.domainName + L"\\" + session.userName;
    if (Lowered(name) == Lowered(session.userName) || Lowered(name) == Lowered(qualified)) match = &session;
  }
  if (!match) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  const std::vector<uint8_t> userSid = UserSid(match->id);
  const DWORD domainNeeded = static_cast<DWORD>(match->domainName.size() + 1);
  if (!sidSize || !domainSize || *sidSize < userSid.size() || *domainSize < domainNeeded || !sid || !domain) {
    if (sidSize) *sidSize = static_cast<DWORD>(userSid.size());
    if (domainSize) *domainSize = domainNeeded;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(sid, userSid.data(), userSid.size());
  std::memcpy(domain, match->domainName.c_str(), domainNeeded * sizeof(wchar_t));
  *sidSize = static_cast<DWORD>(userSid.size());
  *domainSize = domainNeeded - 1;
  if (use) *use = SidTypeUser;
  return TRUE;
}

BOOL SimTerminalServer::QueryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* info,
                                              DWORD size, DWORD* needed) {
  const auto sessionId = infoClass == TokenUser ? SessionOfToken(token) : std::nullopt;
  if (!sessionId) {
    using GetTokenInformationCall = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    static const auto platform = reinterpret_cast<GetTokenInformationCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "GetTokenInformation")));
    return platform(token, infoClass, info, size, needed);
  }
  const std::vector<uint8_t> sid = UserSid(*sessionId);
  const DWORD total = static_cast<DWORD>(sizeof(TOKEN_USER) + sid.size());
  if (!needed) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  *needed = total;
  if (!info || size < total) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* user = static_cast<TOKEN_USER*>(info);
  std::memcpy(user + 1, sid.data(), sid.size());
  user->User.Sid = user + 1;
  user->User.Attributes = 0;
  return TRUE;
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
  if (!MarkToken(primary, sessionId)) {
    CloseHandle(primary);
    return FALSE;
  }
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
