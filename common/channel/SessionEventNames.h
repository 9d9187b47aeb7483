// The machine-wide events that tell a session's server-side objects that its client went away or
// came back: the user session waits on its disconnect and reconnect events, each open channel
// object on a disconnect event named after its owner. They are created with default security by
// whoever waits on them, so that the session service can signal them.
#pragma once

#include <windows.h>

#include <string>

#include "WideFormat.h"

namespace quil {

// The owners of the two channels' server ends: the notification library ("QPrn") and the port
// monitor ("QSpl").
inline constexpr wchar_t kNotifyChannelOwner[] = L"QuillonNotify";
inline constexpr wchar_t kPortChannelOwner[] = L"QuillonPort";

inline std::wstring SessionDisconnectEventName(DWORD sessionId) {
  return FormatWide(L"Global\\Quillon-%u-Disconnect", sessionId);
}

inline std::wstring SessionReconnectEventName(DWORD sessionId) {
  return FormatWide(L"Global\\Quillon-%u-Reconnect", sessionId);
}

inline std::wstring ChannelDisconnectEventName(const std::wstring& ownerName, DWORD sessionId) {
  return FormatWide(L"Global\\%s-%u-Disconnect", ownerName.c_str(), sessionId);
}

// Signals the event if it exists, that is if someone waits on it. Creating it instead would leave
// a signal behind that a later waiter of the session would take for a disconnect of its own.
inline void SignalIfWaitedOn(const std::wstring& name) {
  const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (!event) return;
  SetEvent(event);
  CloseHandle(event);
}

}  // namespace quil
