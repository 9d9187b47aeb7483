// Creating and signalling the machine-wide session events (names in SessionEventNames.h). Any
// user may create a name in the Global\ namespace first, and CreateEventW silently opens whatever
// is there: so each event admits only the account that the service and the spooler run as (the
// user of this process's token: the local system account), and a name already held by an object
// of another owner, or by another kind of object, is refused.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <string>
#include <vector>

#include "QuilLog.h"
#include "UniqueHandle.h"

namespace quil {
namespace session_events {

using SidBytes = std::vector<BYTE>;

// The user of this process's token: the local system account in the service and the spooler.
inline SidBytes ProcessUserSid() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<BYTE> info(size);
  if (size < sizeof(TOKEN_USER) || !GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(info.data())->User.Sid;
  SidBytes copy(GetLengthSid(sid));
  if (!CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid)) return {};
  return copy;
}

// A security descriptor that makes `sid` the owner and grants it alone full access; the caller
// keeps the SID and the access list alive while the descriptor is used.
class OwnerOnlySecurity {
 public:
  explicit OwnerOnlySecurity(SidBytes& sid) {
    const DWORD aceSize = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid.size());
    acl_.resize(sizeof(ACL) + aceSize);
    valid_ = !sid.empty() &&
             InitializeAcl(reinterpret_cast<PACL>(acl_.data()), static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
             AddAccessAllowedAce(reinterpret_cast<PACL>(acl_.data()), ACL_REVISION, EVENT_ALL_ACCESS, sid.data()) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorOwner(&descriptor_, sid.data(), FALSE) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_.data()), FALSE);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  OwnerOnlySecurity(const OwnerOnlySecurity&) = delete;
  OwnerOnlySecurity& operator=(const OwnerOnlySecurity&) = delete;

  SECURITY_ATTRIBUTES* Attributes() { return valid_ ? &attributes_ : nullptr; }

 private:
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool valid_ = false;
};

inline bool OwnedBy(HANDLE object, SidBytes& sid) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const UniqueLocalMemory keep(descriptor);
  return owner && IsValidSid(owner) && EqualSid(owner, sid.data());
}

}  // namespace session_events

// The auto-reset event of that name, not signalled, or this account's existing one; null (logged)
// when the name is held by another owner's object or by an object of another kind.
inline UniqueHandle CreateSessionEvent(const std::wstring& name) {
  session_events::SidBytes sid = session_events::ProcessUserSid();
  session_events::OwnerOnlySecurity security(sid);
  if (!security.Attributes()) {
    LogErrorText(GetLastError());
    return {};
  }
  UniqueHandle event(CreateEventW(security.Attributes(), FALSE, FALSE, name.c_str()));
  const DWORD error = GetLastError();
  if (!event) {
    // ERROR_INVALID_HANDLE: another kind of object has the name; ERROR_ACCESS_DENIED: an event
    // that does not admit this account.
    Log(L"Event %s cannot be created", name.c_str());
    LogErrorText(error);
    return {};
  }
  if (error == ERROR_ALREADY_EXISTS && !session_events::OwnedBy(event.get(), sid)) {
    Log(L"Event %s exists with another owner: not used", name.c_str());
    return {};
  }
  return event;
}

// Signals the event if it exists, that is if someone waits on it, and belongs to this account.
// Creating it instead would leave a signal behind that a later waiter of the session would take
// for a disconnect of its own.
inline void SignalSessionEvent(const std::wstring& name) {
  const UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE | READ_CONTROL, FALSE, name.c_str()));
  if (!event) return;
  session_events::SidBytes sid = session_events::ProcessUserSid();
  if (sid.empty() || !session_events::OwnedBy(event.get(), sid)) {
    Log(L"Event %s has another owner: not signalled", name.c_str());
    return;
  }
  SetEvent(event.get());
}

}  // namespace quil
