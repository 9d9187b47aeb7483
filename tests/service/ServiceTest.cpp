// The session service through its program main routine, against the simulated service control
// manager and terminal server, with a stand-in notification library beside it.
#include <algorithm>

#include <gmock/gmock.h>

#include "CQuilService.h"
#include "ServiceTestSupport.h"
#include "SessionEvents.h"
#include "SquattedObjects.h"
#include "TestLogFile.h"

namespace quil::test {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

constexpr DWORD kOwnAndSharedProcess = 0x30;
constexpr DWORD kAcceptStopAndSessionChange = 0x81;

std::vector<DWORD> ReportedStates() {
  std::vector<DWORD> states;
  for (const auto& report : sim::SimServiceControlManager::Instance().Reports()) {
    states.push_back(report.status.dwCurrentState);
  }
  return states;
}

class ServiceRunTest : public ServiceTest {
 protected:
  // Two sessions with users and a listener; the services session has no user either.
  void AddTypicalSessions() {
    sessions_.AddSession(1, L"RDP-Tcp#0", L"alice", L"CORP");
    sessions_.AddSession(65536, L"RDP-Tcp");
    sessions_.AddSession(2, L"RDP-Tcp#1", L"bob");
  }
};

TEST_F(ServiceRunTest, StartReportsPendingThenRunningAndLogsOnEverySessionWithAUser) {
  AddTypicalSessions();
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());

  EXPECT_EQ(scm_.DispatchedServiceName(), L"QuillonService");
  EXPECT_EQ(scm_.RegisteredHandlerName(), L"QuillonService");
  const auto reports = scm_.Reports();
  ASSERT_EQ(reports.size(), 2u);
  for (const auto& report : reports) {
    EXPECT_EQ(report.handle, scm_.IssuedStatusHandle());
    EXPECT_EQ(report.status.dwServiceType, kOwnAndSharedProcess);
    EXPECT_EQ(report.status.dwControlsAccepted, kAcceptStopAndSessionChange);
    EXPECT_EQ(report.status.dwWin32ExitCode, 0u);
    EXPECT_EQ(report.status.dwServiceSpecificExitCode, 0u);
    EXPECT_EQ(report.status.dwCheckPoint, 0u);
    EXPECT_EQ(report.status.dwWaitHint, 0u);
  }
  EXPECT_THAT(ReportedStates(), ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING));

  const auto calls = LibraryCalls::All();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].entry, StandInEntry::RemoveOrphans) << "what an earlier run left goes before any logon";
  EXPECT_EQ(calls[1].sessionId, 1u);
  EXPECT_EQ(calls[1].token, sessions_.IssuedToken(1));
  EXPECT_EQ(calls[2].sessionId, 2u);
  EXPECT_EQ(calls[2].token, sessions_.IssuedToken(2));
  for (const auto& call : calls) {
    if (call.entry == StandInEntry::Logon) {
      EXPECT_NE(call.token, nullptr);
    }
    EXPECT_EQ(call.lastReportedState, static_cast<DWORD>(SERVICE_RUNNING)) << "the sweep follows the running report";
    EXPECT_NE(call.threadId, scm_.DispatcherThreadId()) << "the sweep runs on a thread of the service's own";
  }

  EXPECT_EQ(TestLogFile::CountMessage("Service: register control handler successed"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: OnServiceStart"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: WinSta RDP-Tcp#0 Logon session id: 1"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: WinSta RDP-Tcp Logon session id: 65536"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: WinSta RDP-Tcp#1 Logon session id: 2"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logon Session id: 65536"), 1u);
  EXPECT_EQ(sessions_.OutstandingAllocations(), 0u);
}

// The stop reports each step with the next check point and a wait hint, and the library is
// unloaded after the last session's logoff, before the service reports stopped.
TEST_F(ServiceRunTest, StopReportsProgressWhileItLogsEverySessionOffAndUnloadsTheLibraryBeforeReportingStopped) {
  AddTypicalSessions();
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());

  EXPECT_EQ(scm_.SendControl(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(program.WaitForExit());
  EXPECT_EQ(program.ExitCode(), 0);

  EXPECT_THAT(ReportedStates(), ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING,
                                            SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING,
                                            SERVICE_STOPPED));
  const auto reports = scm_.Reports();
  for (DWORD step = 1; step <= 4; ++step) {
    EXPECT_EQ(reports[step + 1].status.dwCheckPoint, step);
    EXPECT_GT(reports[step + 1].status.dwWaitHint, 0u);
  }
  EXPECT_EQ(reports.back().status.dwCheckPoint, 0u);
  EXPECT_EQ(reports.back().status.dwWaitHint, 0u);
  EXPECT_THAT(LibraryCalls::SessionsOf(StandInEntry::Logoff), ElementsAre(1u, 65536u, 2u));
  for (const auto& call : LibraryCalls::All()) {
    if (call.entry != StandInEntry::Logoff) continue;
    EXPECT_EQ(call.token, nullptr);
    EXPECT_NE(call.threadId, scm_.DispatcherThreadId()) << "the handler does no logoff itself";
    EXPECT_EQ(call.lastReportedState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  }
  const auto calls = LibraryCalls::All();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().entry, StandInEntry::Unload);
  EXPECT_EQ(calls.back().lastReportedState, static_cast<DWORD>(SERVICE_STOP_PENDING)) << "unloaded before stopped";
  EXPECT_EQ(TestLogFile::CountMessage("Service: OnServiceStop"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: WinSta RDP-Tcp Logoff session id: 65536"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logoff session id: 2"), 1u);
  EXPECT_EQ(sessions_.OutstandingAllocations(), 0u);
}

// A logon whose library work blocks (spooler or account calls that hang) holds no control: the
// handler returns at once, later changes follow the logon in order, and the stop after them.
TEST_F(ServiceRunTest, ALogonThatBlocksHoldsNoControlAndLaterChangesFollowItInOrder) {
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  sessions_.AddSession(7, L"RDP-Tcp#4", L"carol");
  sessions_.AddSession(8, L"RDP-Tcp#5", L"dave");
  LogonGate gate(7);

  ASSERT_EQ(SendSessionChange(WTS_SESSION_LOGON, 7), static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(gate.WaitUntilHeld());
  ASSERT_EQ(SendSessionChange(WTS_SESSION_LOGON, 8), static_cast<DWORD>(NO_ERROR));
  ASSERT_EQ(SendSessionChange(WTS_SESSION_LOGOFF, 7), static_cast<DWORD>(NO_ERROR));
  ASSERT_EQ(scm_.SendControl(SERVICE_CONTROL_STOP), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(scm_.Reports().back().status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_THAT(LibraryCalls::SessionsOf(StandInEntry::Logon), ElementsAre(7u)) << "the others wait for the logon";

  gate.Release();
  ASSERT_TRUE(program.WaitForExit());
  EXPECT_THAT(LibraryCalls::SessionsOf(StandInEntry::Logon), ElementsAre(7u, 8u));
  EXPECT_THAT(LibraryCalls::SessionsOf(StandInEntry::Logoff), ElementsAre(7u, 7u, 8u)) << "the change, then the stop";
  EXPECT_EQ(scm_.Reports().back().status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
}

// The library is unloaded at the stop: every session it was given is logged off before, also one
// that the stop's enumeration does not list.
TEST_F(ServiceRunTest, StopLogsOffEverySessionGivenToTheLibraryBeforeUnloadingIt) {
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  sessions_.AddSession(7, L"RDP-Tcp#4", L"carol");
  ASSERT_EQ(SendSessionChange(WTS_SESSION_LOGON, 7), static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(WaitForEarlierChanges());
  sessions_.FailEnumeration(ERROR_ACCESS_DENIED);
  scm_.SendControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(program.WaitForExit());

  std::vector<std::pair<StandInEntry, DWORD>> calls;
  for (const auto& call : LibraryCalls::All()) calls.emplace_back(call.entry, call.sessionId);
  EXPECT_THAT(calls, ElementsAre(Pair(StandInEntry::RemoveOrphans, 0u), Pair(StandInEntry::Logon, 7u),
                                 Pair(StandInEntry::Logoff, 7u), Pair(StandInEntry::Unload, 0u)));
}

TEST_F(ServiceRunTest, SessionLogonAndLogoffNotificationsReachTheLibrary) {
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  LibraryCalls::Clear();
  sessions_.AddSession(7, L"RDP-Tcp#4", L"carol", L"CORP");

  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGON, 7), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGOFF, 7), static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(WaitForEarlierChanges());

  const auto calls = LibraryCalls::All();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].entry, StandInEntry::Logon);
  EXPECT_EQ(calls[0].sessionId, 7u);
  EXPECT_EQ(calls[0].token, sessions_.IssuedToken(7));
  EXPECT_EQ(calls[1].entry, StandInEntry::Logoff);
  EXPECT_EQ(calls[1].sessionId, 7u);
  EXPECT_EQ(calls[1].token, nullptr);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logon Session id: 7"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logoff session id: 7"), 1u);
}

TEST_F(ServiceRunTest, ALogonWhoseTokenCannotBeHadCallsNothing) {
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  LibraryCalls::Clear();
  sessions_.AddSession(9, L"RDP-Tcp");  // no user, so no token

  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGON, 9), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(SendSessionChange(WTS_SESSION_LOGON, 10), static_cast<DWORD>(NO_ERROR));  // unknown session
  ASSERT_TRUE(WaitForEarlierChanges());
  EXPECT_TRUE(LibraryCalls::All().empty());
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logon Session id: 9"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Logon Session id: 10"), 1u);
}

TEST_F(ServiceRunTest, OtherSessionEventsAndControlsChangeNothing) {
  sessions_.AddSession(4, L"RDP-Tcp#2", L"dave");
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  LibraryCalls::Clear();
  const size_t reportsBefore = scm_.Reports().size();

  for (DWORD eventType : std::initializer_list<DWORD>{WTS_CONSOLE_CONNECT, WTS_CONSOLE_DISCONNECT, WTS_REMOTE_CONNECT, WTS_REMOTE_DISCONNECT,
                          WTS_SESSION_LOCK, WTS_SESSION_UNLOCK, WTS_SESSION_REMOTE_CONTROL, 0xFFu}) {
    EXPECT_EQ(SendSessionChange(eventType, 4), static_cast<DWORD>(NO_ERROR)) << eventType;
  }
  for (DWORD control : std::initializer_list<DWORD>{SERVICE_CONTROL_INTERROGATE, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_SHUTDOWN, 200ul}) {
    EXPECT_EQ(scm_.SendControl(control), static_cast<DWORD>(NO_ERROR)) << control;
  }
  EXPECT_EQ(scm_.SendControl(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr),
            static_cast<DWORD>(NO_ERROR));
  ASSERT_TRUE(WaitForEarlierChanges());

  EXPECT_TRUE(LibraryCalls::All().empty());
  EXPECT_EQ(scm_.Reports().size(), reportsBefore);
}

// A remote disconnect reaches the session's waiting objects through their named events: the user
// session and both channel owners; a remote connect reaches the user session. Events of other
// sessions stay as they are, an event that nobody holds is not created, and an event of another
// owner (session 6's, made first by another user) is not signalled.
TEST_F(ServiceRunTest, RemoteDisconnectAndConnectSignalTheSessionsEvents) {
  ServiceProgram program;
  ASSERT_TRUE(WaitForStartSweep());
  LibraryCalls::Clear();
  const std::vector<std::wstring> names = {L"Global\\Quillon-4-Disconnect", L"Global\\QuillonNotify-4-Disconnect",
                                           L"Global\\QuillonPort-4-Disconnect", L"Global\\Quillon-4-Reconnect",
                                           L"Global\\Quillon-5-Disconnect",     L"Global\\Quillon-6-Disconnect",
                                           L"Global\\Quillon-6-Reconnect"};
  std::vector<UniqueHandle> events;
  for (const std::wstring& name : names) {
    const bool foreign = name.find(L"-6-") != std::wstring::npos;
    events.push_back(foreign ? ForeignOwnedEvent(name) : CreateSessionEvent(name));
    ASSERT_TRUE(events.back());
  }
  struct Case {
    DWORD eventType;
    DWORD session;
    std::vector<bool> signalled;  // in the order of the names
  };
  for (const Case& c : {Case{WTS_REMOTE_DISCONNECT, 4, {true, true, true, false, false, false, false}},
                        Case{WTS_REMOTE_CONNECT, 4, {false, false, false, true, false, false, false}},
                        Case{WTS_CONSOLE_DISCONNECT, 4, {false, false, false, false, false, false, false}},
                        Case{WTS_REMOTE_DISCONNECT, 6, {false, false, false, false, false, false, false}},
                        Case{WTS_REMOTE_CONNECT, 6, {false, false, false, false, false, false, false}}}) {
    EXPECT_EQ(SendSessionChange(c.eventType, c.session), static_cast<DWORD>(NO_ERROR));
    ASSERT_TRUE(WaitForEarlierChanges());
    for (size_t i = 0; i < names.size(); ++i) {
      EXPECT_EQ(WaitForSingleObject(events[i].get(), 0) == WAIT_OBJECT_0, c.signalled[i])
          << c.eventType << " " << std::string(names[i].begin(), names[i].end());
    }
  }
  EXPECT_FALSE(UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, L"Global\\QuillonPort-6-Disconnect")));
  EXPECT_TRUE(LibraryCalls::All().empty());
  EXPECT_EQ(TestLogFile::CountMessage("Service: Disconnect session id: 4"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: Connect session id: 4"), 1u);
}

TEST_F(ServiceRunTest, SweepsDoNothingWhenSessionsCannotBeEnumerated) {
  AddTypicalSessions();
  sessions_.FailEnumeration(ERROR_ACCESS_DENIED);
  ServiceProgram program;
  ASSERT_TRUE(scm_.WaitForState(SERVICE_RUNNING));
  scm_.SendControl(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(program.WaitForExit());

  EXPECT_TRUE(LibraryCalls::SessionsOf(StandInEntry::Logon).empty());
  EXPECT_TRUE(LibraryCalls::SessionsOf(StandInEntry::Logoff).empty());
  EXPECT_THAT(ReportedStates(),
              ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED));
  const auto messages = TestLogFile::Messages();
  EXPECT_EQ(TestLogFile::CountMessage("Service: OnServiceStart"), 1u);
  EXPECT_EQ(TestLogFile::CountMessage("Service: OnServiceStop"), 1u);
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.find("WinSta") != std::string::npos; }),
            0);
}

TEST_F(ServiceRunTest, AFailedHandlerRegistrationLogsTheErrorAndReportsStopped) {
  AddTypicalSessions();
  scm_.FailHandlerRegistration(ERROR_SERVICE_DOES_NOT_EXIST);
  ServiceProgram program;
  ASSERT_TRUE(program.WaitForExit());
  EXPECT_EQ(program.ExitCode(), 0);

  const auto reports = scm_.Reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].handle, nullptr);
  EXPECT_EQ(reports[0].status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(LibraryCalls::All().empty());

  const auto messages = TestLogFile::Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0], "Service: register control handler failed");
  EXPECT_EQ(messages[1].rfind("Result: ", 0), 0u);
  EXPECT_TRUE(messages[1].ends_with(" [1060]")) << messages[1];
}

TEST_F(ServiceRunTest, AFailedRunningReportCarriesTheErrorAndStopsWithoutASweep) {
  AddTypicalSessions();
  scm_.FailStatusReport(SERVICE_RUNNING, ERROR_INVALID_DATA);
  ServiceProgram program;
  ASSERT_TRUE(program.WaitForExit());

  const auto reports = scm_.Reports();
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_THAT(ReportedStates(), ElementsAre(SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_RUNNING, SERVICE_STOPPED));
  EXPECT_EQ(reports[1].status.dwWin32ExitCode, 0u);
  for (size_t i : {2u, 3u}) {
    EXPECT_EQ(reports[i].status.dwWin32ExitCode, static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(reports[i].status.dwServiceSpecificExitCode, 0u);
  }
  EXPECT_TRUE(LibraryCalls::All().empty());
  EXPECT_EQ(TestLogFile::CountMessage("Service: OnServiceStart"), 0u);
}

TEST_F(ServiceRunTest, AFailedDispatcherStartEndsTheProgramQuietly) {
  AddTypicalSessions();
  scm_.FailDispatcherStart(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  ServiceProgram program;
  ASSERT_TRUE(program.WaitForExit());
  EXPECT_EQ(program.ExitCode(), 0);
  EXPECT_TRUE(scm_.Reports().empty());
  EXPECT_TRUE(LibraryCalls::All().empty());
  EXPECT_FALSE(TestLogFile::Exists());
}

}  // namespace
}  // namespace quil::test
