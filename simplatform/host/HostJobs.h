// Print jobs as the spooler runs them: a job added to the simulated spooler with spool data read
// from a file, and the real monitor's port calls for it on a thread of their own, while the page
// messages that the monitor writes on "QSpl" are counted as they go out on a link, and its font
// messages noted.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "FontReference.h"
#include "SimLock.h"
#include "UniqueHandle.h"

namespace sim::host {

// What the monitor sent on "QSpl": the pages counted, and a line for each font query ("font query:
// FACE, FACE"), the client's answer to it ("font answer: the client lacks FACE, FACE" or "... lacks
// none") and each font's data ("font sent: FACE, N bytes (M in its message[, compressed])").
class SpoolTraffic {
 public:
  static SpoolTraffic& Instance();

  // A message that went out on a link.
  void Sent(std::span<const uint8_t> message);
  // A whole message that came in from a client.
  void Answered(std::span<const uint8_t> message);
  DWORD Pages();
  // The lines noted since the last call.
  std::vector<std::string> TakeNotes();
  // Signalled after each page and note (auto-reset).
  HANDLE Changed() const { return changed_.get(); }

 private:
  SpoolTraffic() = default;
  void Note(std::string line);

  CriticalSection lock_;
  DWORD pages_ = 0;
  std::vector<std::string> notes_;
  std::vector<quil::FontReference> lastQuery_;
  quil::UniqueHandle changed_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};

struct PrintRequest {
  std::wstring printer;
  std::wstring document;
  std::wstring spoolFile;  // EMF spool format
};

// Runs one job at a time to its end (the client answered every message, or the session's
// disconnect released the monitor) and calls `pageSent` with 1, 2, ... as its pages go out, and
// `note` with each line noted about its fonts. Returns the reply line: "ok sent <n> pages" or
// "error ...".
std::string Print(const PrintRequest& request, const std::function<void(DWORD page)>& pageSent,
                  const std::function<void(const std::string&)>& note);

}  // namespace sim::host
