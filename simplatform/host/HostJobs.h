// Print jobs as the spooler runs them: a job added to the simulated spooler with spool data read
// from a file, and the real monitor's port calls for it on a thread of their own, while the page
// messages that the monitor writes on "QSpl" are counted as they go out on a link.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "SimLock.h"
#include "UniqueHandle.h"

namespace sim::host {

class SpoolPageCounter {
 public:
  static SpoolPageCounter& Instance();

  void PageSent();
  DWORD Pages();
  // Signalled after each page (auto-reset).
  HANDLE Changed() const { return changed_.get(); }

 private:
  SpoolPageCounter() = default;

  CriticalSection lock_;
  DWORD pages_ = 0;
  quil::UniqueHandle changed_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

struct PrintRequest {
  std::wstring printer;
  std::wstring document;
  std::wstring spoolFile;  // EMF spool format
};

// Runs one job at a time to its end (the client answered every message, or the session's
// disconnect released the monitor) and calls `pageSent` with 1, 2, ... as its pages go out.
// Returns the reply line: "ok sent <n> pages" or "error ...".
std::string Print(const PrintRequest& request, const std::function<void(DWORD page)>& pageSent);

}  // namespace sim::host
