#include "ServiceTestSupport.h"

#include <algorithm>
#include <optional>
#include <string>

#include "CQuilService.h"
#include "SimLock.h"
#include "TestLogFile.h"
#include "WaitUntil.h"

namespace quil::test {
namespace {

const DWORD kBoundedWaitMs = WaitBound(10000);

constexpr DWORD kBarrierSession = 4242;

sim::CriticalSection g_callsLock;
std::vector<LibraryCall> g_calls;

struct HeldLogon {
  std::optional<DWORD> sessionId;
  UniqueHandle held{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  UniqueHandle released{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};
HeldLogon g_heldLogon;

void RecordCall(StandInEntry entry, DWORD sessionId, HANDLE token) {
  const auto reports = sim::SimServiceControlManager::Instance().Reports();
  const DWORD lastState = reports.empty() ? 0 : reports.back().status.dwCurrentState;
  {
    sim::Guard guard(g_callsLock);
    g_calls.push_back({entry, sessionId, token, GetCurrentThreadId(), lastState});
    if (entry != StandInEntry::Logon || g_heldLogon.sessionId != sessionId) return;
  }
  SetEvent(g_heldLogon.held.get());
  WaitForSingleObject(g_heldLogon.released.get(), INFINITE);
}

}  // namespace

bool LibraryCalls::Observe() {
  HMODULE library = GetModuleHandleW(L"QuillonNotify.dll");
  auto setObserver =
      library ? reinterpret_cast<StandInSetObserverFn>(reinterpret_cast<void*>(GetProcAddress(library, "StandInSetObserver"))) : nullptr;
  if (!setObserver) return false;
  setObserver(&RecordCall);
  return true;
}

void LibraryCalls::Clear() {
  sim::Guard guard(g_callsLock);
  g_calls.clear();
}

std::vector<LibraryCall> LibraryCalls::All() {
  sim::Guard guard(g_callsLock);
  return g_calls;
}

std::vector<DWORD> LibraryCalls::SessionsOf(StandInEntry entry) {
  std::vector<DWORD> sessions;
  for (const LibraryCall& call : All()) {
    if (call.entry == entry) sessions.push_back(call.sessionId);
  }
  return sessions;
}

ServiceProgram::ServiceProgram() : thread_(CreateThread(nullptr, 0, Main, this, 0, nullptr)) {}

ServiceProgram::~ServiceProgram() {
  // A program still running would outlive the test's objects: stop it first.
  if (WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT) {
    sim::SimServiceControlManager::Instance().SendControl(SERVICE_CONTROL_STOP);
  }
  WaitForSingleObject(thread_.get(), INFINITE);
}

bool ServiceProgram::WaitForExit() { return WaitForSingleObject(thread_.get(), kBoundedWaitMs) == WAIT_OBJECT_0; }

DWORD WINAPI ServiceProgram::Main(LPVOID self) {
  static_cast<ServiceProgram*>(self)->exitCode_ = CQuilService::Instance().Run();
  return 0;
}

DWORD SendSessionChange(DWORD eventType, DWORD sessionId) {
  WTSSESSION_NOTIFICATION notification{sizeof(WTSSESSION_NOTIFICATION), sessionId};
  return sim::SimServiceControlManager::Instance().SendControl(SERVICE_CONTROL_SESSIONCHANGE, eventType,
                                                               &notification);
}

bool WaitForEarlierChanges() {
  const std::string line = "Service: Connect session id: " + std::to_string(kBarrierSession);
  const size_t before = TestLogFile::CountMessage(line);
  if (SendSessionChange(WTS_REMOTE_CONNECT, kBarrierSession) != NO_ERROR) return false;
  return WaitUntil([&] { return TestLogFile::CountMessage(line) > before; }, kBoundedWaitMs);
}

LogonGate::LogonGate(DWORD sessionId) {
  ResetEvent(g_heldLogon.held.get());
  ResetEvent(g_heldLogon.released.get());
  sim::Guard guard(g_callsLock);
  g_heldLogon.sessionId = sessionId;
}

LogonGate::~LogonGate() { Release(); }

bool LogonGate::WaitUntilHeld() { return WaitForSingleObject(g_heldLogon.held.get(), kBoundedWaitMs) == WAIT_OBJECT_0; }

void LogonGate::Release() {
  {
    sim::Guard guard(g_callsLock);
    g_heldLogon.sessionId.reset();
  }
  SetEvent(g_heldLogon.released.get());
}

bool WaitForStartSweep() {
  if (!sim::SimServiceControlManager::Instance().WaitForState(SERVICE_RUNNING)) return false;
  auto& sessions = sim::SimTerminalServer::Instance();
  return WaitUntil([&] { return sessions.Enumerations() > 0 && sessions.OutstandingAllocations() == 0; },
                   kBoundedWaitMs);
}

void ServiceTest::SetUp() {
  TestLogFile::Remove();
  CQuilService::Instance();  // process start: loads the notification library, if there is one
  LibraryCalls::Observe();
  sessions_.Reset();
  scm_.Reset();
  LibraryCalls::Clear();
}

}  // namespace quil::test
