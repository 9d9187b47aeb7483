// Runs the service program against the simulated platform and records what it asks of the
// notification library.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "NotifyStandIn.h"
#include "SimServiceControlManager.h"
#include "SimTerminalServer.h"
#include "UniqueHandle.h"

namespace quil::test {

struct LibraryCall {
  StandInEntry entry;
  DWORD sessionId;
  HANDLE token;
  DWORD threadId;
  DWORD lastReportedState;  // the service's last status report when the call was made (0: none)
};

// The calls the stand-in notification library received, if the service loaded it.
class LibraryCalls {
 public:
  // Installs the observer in the stand-in; false when the process has no stand-in loaded.
  static bool Observe();
  static void Clear();
  static std::vector<LibraryCall> All();
  static std::vector<DWORD> SessionsOf(StandInEntry entry);
};

// The service program's main routine, run on a thread of its own as the process's main thread.
class ServiceProgram {
 public:
  ServiceProgram();
  ~ServiceProgram();
  // Waits (bounded) for the main routine to return; false if it is still running.
  bool WaitForExit();
  int ExitCode() const { return exitCode_; }

 private:
  static DWORD WINAPI Main(LPVOID self);
  int exitCode_ = -1;
  UniqueHandle thread_;
};

DWORD SendSessionChange(DWORD eventType, DWORD sessionId);

// The service handles session changes on a worker thread, in order: this sends one more (a
// remote connect of a session nobody waits on) and waits (bounded) until the worker has come to
// it, so that every change sent before has been handled.
bool WaitForEarlierChanges();

// Holds the stand-in library's logon of one session, as a logon whose spooler or account calls
// block, until released; the gate releases it at the latest when it ends.
class LogonGate {
 public:
  explicit LogonGate(DWORD sessionId);
  ~LogonGate();
  LogonGate(const LogonGate&) = delete;
  LogonGate& operator=(const LogonGate&) = delete;

  // Waits (bounded) until the logon is being held.
  bool WaitUntilHeld();
  void Release();
};

// Waits (bounded) until the service runs and its start sweep has enumerated the sessions and
// returned the enumeration's memory.
bool WaitForStartSweep();

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  sim::SimTerminalServer& sessions_ = sim::SimTerminalServer::Instance();
  sim::SimServiceControlManager& scm_ = sim::SimServiceControlManager::Instance();
};

}  // namespace quil::test
