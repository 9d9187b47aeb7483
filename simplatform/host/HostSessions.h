// The sessions that the control connection added, with their users, and the session that a
// printer belongs to: the one whose user its security descriptor grants access (the notification
// library gives each session printer to the session's user alone).
#pragma once

#include <windows.h>

#include <map>
#include <optional>
#include <string>

#include "SimLock.h"
#include "SimSpooler.h"

namespace sim::host {

class HostSessions {
 public:
  static HostSessions& Instance();

  // Adds the session to SimTerminalServer as well; false if a session of that id exists.
  bool Add(DWORD id, const std::wstring& user, const std::wstring& domain);
  // "DOMAIN\user", or "user" without a domain; empty for an unknown session.
  std::wstring AccountOf(DWORD id);
  std::optional<DWORD> SessionOfPrinter(const SimPrinter& printer);

 private:
  struct Account {
    std::wstring user, domain;
  };
  HostSessions() = default;
  std::optional<DWORD> SessionOfSid(PSID sid);

  CriticalSection lock_;
  std::map<DWORD, Account> sessions_;
};

}  // namespace sim::host
