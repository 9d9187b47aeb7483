// The names of the machine-wide events that tell a session's server-side objects that its client
// went away or came back: the user session waits on its disconnect and reconnect events, each open
// channel object checks a disconnect event named after its owner. Whoever waits creates them and
// the session service signals them (SessionEvents.h).
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

}  // namespace quil
