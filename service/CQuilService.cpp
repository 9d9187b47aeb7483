#include "CQuilService.h"

#include <wtsapi32.h>

#include <optional>
#include <vector>

#include "QuilLog.h"
#include "SessionEventNames.h"
#include "SessionEvents.h"
#include "WtsSessionList.h"

namespace {

// Both process bits, as the service has always reported them.
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;
// How long the service control manager is told to wait for the next step of a stop (the stop
// request, then each session's logoff, which deletes the session's printers) before it takes the
// service for hung.
constexpr DWORD kStopStepWaitHint = 30000;  // ms

using QuilEventLogonFn = int(WINAPI*)(DWORD sessionId, HANDLE userToken);
using QuilEventLogoffFn = void(WINAPI*)(DWORD sessionId, HANDLE unused);
using QuilRemoveOrphanedPrintersFn = void(WINAPI*)();

// Looks the export up afresh at each call; null if the library or the export is missing.
template <typename Function>
Function FindExport(HMODULE library, const char* name) {
  return library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}

// The session changes the service acts on; the others (lock, unlock, console, remote control) are
// ignored.
std::optional<quil::SessionChangeKind> KindOf(DWORD eventType) {
  switch (eventType) {
    case WTS_SESSION_LOGON:
      return quil::SessionChangeKind::Logon;
    case WTS_SESSION_LOGOFF:
      return quil::SessionChangeKind::Logoff;
    case WTS_REMOTE_DISCONNECT:
      return quil::SessionChangeKind::RemoteDisconnect;
    case WTS_REMOTE_CONNECT:
      return quil::SessionChangeKind::RemoteConnect;
    default:
      return std::nullopt;
  }
}

}  // namespace

CQuilService& CQuilService::Instance() {
  static CQuilService service;
  return service;
}

CQuilService::CQuilService() {
  // A missing library only disables forwarding: every export lookup then fails.
  library_.reset(LoadLibraryW(libraryName_));
}

CQuilService::~CQuilService() = default;

int CQuilService::Run() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(serviceName_), &CQuilService::ServiceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherW(table);
  return 0;
}

void WINAPI CQuilService::ServiceMain(DWORD, LPWSTR*) { Instance().RunService(); }

// Nothing is thrown back into the dispatcher: a change that cannot be queued is dropped.
DWORD WINAPI CQuilService::ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
  try {
    Instance().HandleControl(control, eventType, eventData);
  } catch (...) {
  }
  return NO_ERROR;
}

// Exit code 0 once the stop sweep is done, 1 if the work ended by an exception.
DWORD WINAPI CQuilService::WorkerMain(LPVOID self) {
  try {
    static_cast<CQuilService*>(self)->Work();
    return 0;
  } catch (...) {
    return 1;
  }
}

void CQuilService::RunService() {
  statusHandle_ = RegisterServiceCtrlHandlerExW(serviceName_, &CQuilService::ControlHandler, nullptr);
  if (!statusHandle_) {
    quil::Log(L"Service: register control handler failed");
    quil::LogErrorText(GetLastError());
    ReportState(SERVICE_STOPPED);
    return;
  }
  quil::Log(L"Service: register control handler successed");

  status_.dwServiceType = kServiceType;
  status_.dwControlsAccepted = kControlsAccepted;
  status_.dwWin32ExitCode = NO_ERROR;
  status_.dwServiceSpecificExitCode = 0;
  ReportState(SERVICE_START_PENDING);
  if (!ReportState(SERVICE_RUNNING) || !StartWorker()) {
    ReportFailure(GetLastError());
    ReportState(SERVICE_STOPPED);
    return;
  }
  WaitForSingleObject(worker_.get(), INFINITE);
  DWORD workerResult = 1;
  GetExitCodeThread(worker_.get(), &workerResult);
  worker_.reset();
  // The stop sweep has logged off every session the library was given, and the library's logoff
  // returns once the session's thread has ended: nothing of the library runs any more.
  if (workerResult == 0) library_.reset();
  ReportState(SERVICE_STOPPED);
}

bool CQuilService::StartWorker() {
  worker_.reset(CreateThread(nullptr, 0, &CQuilService::WorkerMain, this, 0, nullptr));
  if (worker_) return true;
  const DWORD error = GetLastError();
  quil::Log(L"Service: worker thread could not be started");
  quil::LogErrorText(error);
  SetLastError(error);
  return false;
}

BOOL CQuilService::ReportState(DWORD state) {
  quil::ScopedLock lock(statusLock_);
  status_.dwCurrentState = state;
  status_.dwCheckPoint = 0;
  status_.dwWaitHint = 0;
  return SetServiceStatus(statusHandle_, &status_);
}

// Reports the current state once more, now carrying the error.
BOOL CQuilService::ReportFailure(DWORD error) {
  quil::ScopedLock lock(statusLock_);
  status_.dwWin32ExitCode = error;
  status_.dwServiceSpecificExitCode = 0;
  return SetServiceStatus(statusHandle_, &status_);
}

// Each step of a stop raises the check point, so that the manager sees the stop go on.
void CQuilService::ReportStopProgress() {
  quil::ScopedLock lock(statusLock_);
  status_.dwCurrentState = SERVICE_STOP_PENDING;
  ++status_.dwCheckPoint;
  status_.dwWaitHint = kStopStepWaitHint;
  SetServiceStatus(statusHandle_, &status_);
}

void CQuilService::HandleControl(DWORD control, DWORD eventType, const void* eventData) {
  if (control == SERVICE_CONTROL_STOP) {
    RequestStop();
    return;
  }
  if (control != SERVICE_CONTROL_SESSIONCHANGE || !eventData || stopRequested_) return;
  const DWORD sessionId = static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
  if (const auto kind = KindOf(eventType)) changes_.Push({*kind, sessionId});
}

// Stop pending is reported before the stop is queued, so that the worker's reports follow it.
void CQuilService::RequestStop() {
  if (stopRequested_) return;
  ReportStopProgress();
  changes_.Push({quil::SessionChangeKind::Stop, 0});
  stopRequested_ = true;
}

void CQuilService::Work() {
  OnServiceStart();
  for (quil::SessionChange change = changes_.Pop(); change.kind != quil::SessionChangeKind::Stop;
       change = changes_.Pop()) {
    Apply(change);
  }
  OnServiceStop();
}

void CQuilService::Apply(const quil::SessionChange& change) {
  switch (change.kind) {
    case quil::SessionChangeKind::Logon:
      OnLogon(change.sessionId);
      break;
    case quil::SessionChangeKind::Logoff:
      OnLogoff(change.sessionId);
      break;
    case quil::SessionChangeKind::RemoteDisconnect:
      OnRemoteDisconnect(change.sessionId);
      break;
    case quil::SessionChangeKind::RemoteConnect:
      OnRemoteConnect(change.sessionId);
      break;
    case quil::SessionChangeKind::Stop:
      break;
  }
}

void CQuilService::OnServiceStart() {
  quil::Log(L"Service: OnServiceStart");
  // What an earlier run of the service left behind for sessions that are gone would collide with
  // the printers and ports of the sessions replayed now. A library without the export has nothing
  // to remove.
  if (auto removeOrphans = FindExport<QuilRemoveOrphanedPrintersFn>(library_.get(), "QuilRemoveOrphanedPrinters")) {
    removeOrphans();
  }
  quil::WtsSessionList sessions;
  if (!sessions.Enumerate()) return;
  for (const WTS_SESSION_INFOW& session : sessions) {
    quil::Log(L"Service: WinSta %s Logon session id: %d", session.pWinStationName, session.SessionId);
    OnLogon(session.SessionId);
  }
}

// Every enumerated session is logged off, then every session the library was given that the
// enumeration did not list (or could not): the library is unloaded afterwards, and none of its
// session threads may outlive it.
void CQuilService::OnServiceStop() {
  quil::Log(L"Service: OnServiceStop");
  quil::WtsSessionList sessions;
  if (sessions.Enumerate()) {
    for (const WTS_SESSION_INFOW& session : sessions) {
      ReportStopProgress();
      quil::Log(L"Service: WinSta %s Logoff session id: %d", session.pWinStationName, session.SessionId);
      OnLogoff(session.SessionId);
    }
  }
  const std::vector<DWORD> notListed(loggedOn_.begin(), loggedOn_.end());
  for (const DWORD sessionId : notListed) {
    ReportStopProgress();
    OnLogoff(sessionId);
  }
}

void CQuilService::OnLogon(DWORD sessionId) {
  quil::Log(L"Service: Logon Session id: %d", sessionId);
  // The library keeps a copy of the token for the session's life; this handle ends here.
  quil::UniqueHandle token;
  if (!WTSQueryUserToken(sessionId, token.put())) return;
  auto logon = FindExport<QuilEventLogonFn>(library_.get(), "QuilEventLogon");
  if (!logon) return;
  loggedOn_.insert(sessionId);
  logon(sessionId, token.get());
}

// The session's printers belong to the client it was connected from: on a disconnect the user
// session removes them and each open channel object of the session stops waiting, so that no job
// waits for a client that is gone; on a connect the user session asks the new client for its
// printers. Only events of the service's own account are signalled (SessionEvents.h).
void CQuilService::OnRemoteDisconnect(DWORD sessionId) {
  quil::Log(L"Service: Disconnect session id: %d", sessionId);
  quil::SignalSessionEvent(quil::SessionDisconnectEventName(sessionId));
  quil::SignalSessionEvent(quil::ChannelDisconnectEventName(quil::kNotifyChannelOwner, sessionId));
  quil::SignalSessionEvent(quil::ChannelDisconnectEventName(quil::kPortChannelOwner, sessionId));
}

void CQuilService::OnRemoteConnect(DWORD sessionId) {
  quil::Log(L"Service: Connect session id: %d", sessionId);
  quil::SignalSessionEvent(quil::SessionReconnectEventName(sessionId));
}

void CQuilService::OnLogoff(DWORD sessionId) {
  quil::Log(L"Service: Logoff session id: %d", sessionId);
  loggedOn_.erase(sessionId);
  auto logoff = FindExport<QuilEventLogoffFn>(library_.get(), "QuilEventLogoff");
  if (logoff) logoff(sessionId, nullptr);
}
