// The platform's behaviour that Wine's spooler and printer drivers do not show, put under the real
// add-in through its imports: a driver that keeps StartDocW waiting, and print servers that an
// enumeration of printer connections would have to ask.
#pragma once

#include <windows.h>

#include <atomic>
#include <vector>

#include "ImportPatch.h"
#include "SimLock.h"
#include "UniqueHandle.h"

namespace quil::test {

// Holds the add-in inside StartDocW, as a driver does that asks the user for a file name or waits
// for an offline network printer: each call waits until the stall is released, at most 20 s, then
// starts the document. One stall exists at a time.
class StartDocStall {
 public:
  StartDocStall();
  ~StartDocStall() { Release(); }

  bool Apply(HMODULE module);
  // Waits (up to 20 s) until a call is held; false if none came.
  bool WaitUntilHeld();
  // Lets the held call and every later one through. The import is restored first, while the held
  // call keeps the add-in loaded.
  void Release();
  // Whether a held call went on because its 20 s ran out rather than by Release.
  bool TimedOut() const { return timedOut_; }

 private:
  static int WINAPI HeldStartDoc(HDC dc, const DOCINFOW* document);

  ImportPatch patch_;
  UniqueHandle held_;      // set once a call waits
  UniqueHandle released_;  // set for good by Release
  std::atomic<bool> timedOut_{false};
};

// Passes the add-in's printer enumerations on to the spooler and counts those that would make the
// spooler ask each connection's print server for the printer's details: every level but 4, whose
// names and attributes the spooler keeps locally. One log exists at a time.
class PrinterEnumerationLog {
 public:
  bool Apply(HMODULE module);
  size_t ServerQueries() const { return serverQueries_; }
  size_t Calls() const { return calls_; }

 private:
  static BOOL WINAPI LoggedEnumPrinters(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer,
                                        DWORD size, LPDWORD needed, LPDWORD returned);

  ImportPatch patch_;
  std::atomic<size_t> calls_{0};
  std::atomic<size_t> serverQueries_{0};
};

// Passes the add-in's loading and removal of fonts from memory on to GDI and records each call's
// handle. Wine's RemoveFontMemResourceEx leaves the font in place (a stub), so a font's removal
// shows as the call with the handle that loading it returned. One log exists at a time.
class FontResourceLog {
 public:
  bool Apply(HMODULE module);
  std::vector<HANDLE> Added();
  std::vector<HANDLE> Removed();

 private:
  static HANDLE WINAPI LoggedAdd(PVOID font, DWORD size, PVOID reserved, DWORD* loaded);
  static BOOL WINAPI LoggedRemove(HANDLE fonts);

  ImportPatch addPatch_;
  ImportPatch removePatch_;
  sim::CriticalSection lock_;  // the add-in's worker calls while the test reads
  std::vector<HANDLE> added_;
  std::vector<HANDLE> removed_;
};

}  // namespace quil::test
