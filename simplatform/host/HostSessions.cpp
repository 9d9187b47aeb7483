#include "HostSessions.h"

#include <cstring>
#include <vector>

#include "SimTerminalServer.h"

namespace sim::host {
namespace {

// The window-station name of a remote session, as the platform numbers them.
std::wstring WinStationOf(DWORD id) { return L"RDP-Tcp#" + std::to_wstring(id); }

PACL DaclOf(const std::vector<uint8_t>& descriptor) {
  if (descriptor.empty()) return nullptr;
  auto* sd = const_cast<uint8_t*>(descriptor.data());
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!IsValidSecurityDescriptor(sd) || !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return nullptr;
  return present ? dacl : nullptr;
}

}  // namespace

HostSessions& HostSessions::Instance() {
  static HostSessions sessions;
  return sessions;
}

bool HostSessions::Add(DWORD id, const std::wstring& user, const std::wstring& domain) {
  Guard guard(lock_);
  if (!sessions_.emplace(id, Account{user, domain}).second) return false;
  SimTerminalServer::Instance().AddSession(id, WinStationOf(id), user, domain);
  return true;
}

std::wstring HostSessions::AccountOf(DWORD id) {
  Guard guard(lock_);
  auto found = sessions_.find(id);
  if (found == sessions_.end()) return L"";
  const Account& account = found->second;
  return account.domain.empty() ? account.user : account.domain + L"\\" + account.user;
}

std::optional<DWORD> HostSessions::SessionOfPrinter(const SimPrinter& printer) {
  const PACL dacl = DaclOf(printer.securityDescriptor);
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace) || static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (auto session = SessionOfSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart)) return session;
  }
  return std::nullopt;
}

std::optional<DWORD> HostSessions::SessionOfSid(PSID sid) {
  if (!IsValidSid(sid)) return std::nullopt;
  Guard guard(lock_);
  for (const auto& [id, account] : sessions_) {
    const std::vector<uint8_t> userSid = SimTerminalServer::UserSid(id);
    if (GetLengthSid(sid) == userSid.size() && std::memcmp(sid, userSid.data(), userSid.size()) == 0) return id;
  }
  return std::nullopt;
}

}  // namespace sim::host
