// Named objects that another user creates first, to take over the names of a session's events.
// Under Wine every process runs as the same user, so another user's object is made the way that
// user could make it: with that user's SID as the owner (Wine keeps the owner given), granting
// everyone full access, so that code that opens it unchecked is not stopped by its access list.
#pragma once

#include <windows.h>

#include <sddl.h>

#include <string>

#include "UniqueHandle.h"

namespace quil::test {

// A user of the simulated terminal server who is not the service's account.
inline constexpr wchar_t kOtherUserSid[] = L"S-1-5-21-1000-2000-3000-1666";

// An auto-reset event of that name owned by `ownerSid`; null if the name exists already.
inline UniqueHandle ForeignOwnedEvent(const std::wstring& name, const wchar_t* ownerSid = kOtherUserSid) {
  const std::wstring sddl = std::wstring(L"O:") + ownerSid + L"D:(A;;GA;;;WD)";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return {};
  }
  const UniqueLocalMemory keep(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  UniqueHandle event(CreateEventW(&attributes, FALSE, FALSE, name.c_str()));
  if (event && GetLastError() == ERROR_ALREADY_EXISTS) event.reset();
  return event;
}

// A mutex under the name, which no event can then have.
inline UniqueHandle SquattingMutex(const std::wstring& name) {
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, name.c_str()));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) mutex.reset();
  return mutex;
}

}  // namespace quil::test
