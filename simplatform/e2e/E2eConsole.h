// The end-to-end programs' text streams: whole lines to stdout and stderr from any thread, in
// UTF-8 and ending in a bare "\n" (the runner reads them on Linux), and a watcher of stdin that
// signals when a line "quit" arrives or stdin ends.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "CriticalSection.h"
#include "UniqueHandle.h"

namespace sim {

std::string Utf8(std::wstring_view text);

class E2eConsole {
 public:
  void Line(const std::string& text) { Write(GetStdHandle(STD_OUTPUT_HANDLE), text); }
  void ErrorLine(const std::string& text) { Write(GetStdHandle(STD_ERROR_HANDLE), text); }

 private:
  void Write(HANDLE stream, const std::string& text);

  quil::CriticalSection lock_;
};

// Reads stdin on a thread of its own, which keeps its own handle of the event, so that it may
// outlive the watcher: Wine cannot cancel a blocked read of stdin (CancelSynchronousIo finds
// nothing to cancel), and a thread still reading when the watcher goes ends with the process.
class StdinQuitWatcher {
 public:
  StdinQuitWatcher();
  // Cancels a read still under way where the system can, and waits a little for the thread.
  ~StdinQuitWatcher();
  StdinQuitWatcher(const StdinQuitWatcher&) = delete;
  StdinQuitWatcher& operator=(const StdinQuitWatcher&) = delete;

  // Set once a line "quit" arrived or stdin ended (or failed).
  HANDLE QuitEvent() const { return quit_.get(); }

 private:
  static DWORD WINAPI ReadThread(LPVOID quitEvent);

  quil::UniqueHandle quit_;
  quil::UniqueHandle thread_;
};

}  // namespace sim
