// A simulated terminal server: the sessions, their users and their user tokens, as the
// terminal-services calls (WTSEnumerateSessionsW, WTSQueryUserToken, WTSQuerySessionInformationW,
// WTSFreeMemory) report them. Linking the simulated platform into an executable replaces those
// calls for the whole executable.
#pragma once

#include <windows.h>

#include <wtsapi32.h>

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
  HANDLE issuedToken = nullptr;  // the last token handed out for this session, if any
};

class SimTerminalServer {
 public:
  static SimTerminalServer& Instance();

  // Forgets every session, closes the tokens handed out, and clears the failure switches.
  void Reset();
  void AddSession(DWORD id, const std::wstring& winStationName, const std::wstring& userName = L"",
                  const std::wstring& domainName = L"");
  // Makes session enumeration fail with the given error (0: succeed again).
  void FailEnumeration(DWORD error);

  // The token last handed out for a session (null if none): a real primary token of this process.
  HANDLE IssuedToken(DWORD sessionId);
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
  std::vector<quil::UniqueHandle> tokens_;
  std::vector<void*> allocations_;
  DWORD enumerationError_ = 0;
  size_t enumerations_ = 0;
};

}  // namespace sim
