// A simulated terminal server: the sessions, their users and their user tokens, as the
// terminal-services calls (WTSEnumerateSessionsW, WTSQueryUserToken, WTSQuerySessionInformationW,
// WTSFreeMemory) report them. Linking the simulated platform into an executable replaces those
// calls for the whole executable.
//
// Each session's user has an account with a SID of its own (S-1-5-21-1000-2000-3000-<1000 + id>).
// The tokens handed out are real tokens of this process, marked with that SID as the first entry
// of their default DACL; the mark survives the duplication that impersonation makes, so the
// account that a thread is impersonating can be told from its thread token, and the token's user
// (GetTokenInformation, TokenUser) is answered as that account, as Windows does. A user's account
// name may be made not to resolve (LookupAccountNameW fails for it, as for an account whose
// name the server cannot look up): her tokens still carry her SID.
#pragma once

#include <windows.h>

#include <wtsapi32.h>

#include <optional>
#include <string>
#include <vector>

#include "SimLock.h"
#include "UniqueHandle.h"

namespace sim {

struct SimSession {
  DWORD id = 0;
  std::wstring winStationName;
  std::wstring userName;  // empty: no user is logged on (services or listener session)
  std::wstring domainName;
  HANDLE issuedToken = nullptr;  // the handle value last handed out for this session, if any
  bool accountResolvable = true;
};

class SimTerminalServer {
 public:
  static SimTerminalServer& Instance();

  // Forgets every session and clears the failure switches.
  void Reset();
  void AddSession(DWORD id, const std::wstring& winStationName, const std::wstring& userName = L"",
                  const std::wstring& domainName = L"");
  // Makes session enumeration fail with the given error (0: succeed again).
  void FailEnumeration(DWORD error);

  // The handle value last handed out for a session (null if none). Each token handed out is a
  // real primary token of this process, and the caller's to close, as on Windows.
  HANDLE IssuedToken(DWORD sessionId);
  // The SID of the session user's account (whether or not a session of that id exists).
  static std::vector<uint8_t> UserSid(DWORD sessionId);
  // The session whose user token (or a duplicate of it) this is; nullopt for other tokens.
  std::optional<DWORD> SessionOfToken(HANDLE token);
  // The account the calling thread acts as: "DOMAIN\user" (or "user" without a domain) while it
  // impersonates a session's user, empty for the process's own identity (the local system
  // account), "?" for a token of no session.
  std::wstring CallingAccount();
  // The SID of that account: nullopt for the process's own identity (the local system account),
  // empty for a token of no session.
  std::optional<std::vector<uint8_t>> CallingSid();
  // Makes account lookups of the session's user fail (as for a deleted account).
  void SetAccountResolvable(DWORD sessionId, bool resolvable);
  // The account names looked up, in order.
  std::vector<std::wstring> LookedUpAccounts();
  // LookupAccountNameW for the sessions' users: "user" or "DOMAIN\user", case-insensitive.
  BOOL LookupAccount(LPCWSTR accountName, PSID sid, DWORD* sidSize, LPWSTR domain, DWORD* domainSize,
                     SID_NAME_USE* use);
  // GetTokenInformation: TokenUser of a session's token is the session user's account; every
  // other class, and every other token, is answered by the platform's own call.
  BOOL QueryTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, void* info, DWORD size,
                             DWORD* needed);

  // How many times the sessions were enumerated successfully.
  size_t Enumerations();
  // Blocks handed out by enumeration or session queries and not yet returned by WTSFreeMemory.
  size_t OutstandingAllocations();

  // The terminal-services calls, as the replaced platform functions forward them.
  BOOL EnumerateSessions(WTS_SESSION_INFOW** sessions, DWORD* count);
  BOOL QueryUserToken(DWORD sessionId, HANDLE* token);
  BOOL QuerySessionText(DWORD sessionId, int infoClass, LPWSTR* buffer, DWORD* bytes);
  void FreeMemory(void* memory);

 private:
  SimTerminalServer() = default;
  SimSession* Find(DWORD id);
  void* Allocate(size_t bytes);

  CriticalSection lock_;
  std::vector<SimSession> sessions_;
  std::vector<void*> allocations_;
  std::vector<std::wstring> lookedUpAccounts_;
  DWORD enumerationError_ = 0;
  size_t enumerations_ = 0;
};

}  // namespace sim
