// A text of a terminal-server session (its user name, its domain) from
// WTSQuerySessionInformationW, freed with WTSFreeMemory.
#pragma once

#include <windows.h>

#include <wtsapi32.h>

namespace quil {

class SessionText {
 public:
  SessionText(DWORD sessionId, WTS_INFO_CLASS infoClass) {
    DWORD bytes = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, infoClass, &text_, &bytes)) {
      text_ = nullptr;
    }
  }
  ~SessionText() {
    if (text_) WTSFreeMemory(text_);
  }
  SessionText(const SessionText&) = delete;
  SessionText& operator=(const SessionText&) = delete;

  // Null when the query failed.
  const wchar_t* get() const { return text_; }

 private:
  LPWSTR text_ = nullptr;
};

}  // namespace quil
