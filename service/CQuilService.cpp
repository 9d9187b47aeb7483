#include "CQuilService.h"

#include <wtsapi32.h>

#include "QuilLog.h"
#include "SessionEventNames.h"
#include "SessionEvents.h"
#include "WtsSessionList.h"

namespace {

// Both process bits, as the service has always reported them.
constexpr DWORD kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
constexpr DWORD kControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SESSIONCHANGE;

using QuilEventLogonFn = int(WINAPI*)(DWORD sessionId, HANDLE userToken);
using QuilEventLogoffFn = void(WINAPI*)(DWORD sessionId, HANDLE unused);

// Looks the export up afresh at each call; null if the library or the export is missing.
template <typename Function>
Function FindExport(HMODULE library, const char* name) {
  return library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}

}  // namespace

CQuilService& CQuilService::Instance() {
  static CQuilService service;
  return service;
}

CQuilService::CQuilService() : stopEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  // A missing library only disables forwarding: every export lookup then fails.
  library_.reset(LoadLibraryW(libraryName_));
}

CQuilService::~CQuilService() {
  stopEvent_.reset();
  library_.reset();
}

int CQuilService::Run() {
  SERVICE_TABLE_ENTRYW table[] = {{const_cast<LPWSTR>(serviceName_), &CQuilService::ServiceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcherW(table);
  return 0;
}

void WINAPI CQuilService::ServiceMain(DWORD, LPWSTR*) { Instance().RunService(); }

DWORD WINAPI CQuilService::ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID) {
  Instance().HandleControl(control, eventType, eventData);
  return NO_ERROR;
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
  if (!ReportState(SERVICE_RUNNING)) {
    status_.dwWin32ExitCode = GetLastError();
    status_.dwServiceSpecificExitCode = 0;
    SetServiceStatus(statusHandle_, &status_);
    ReportState(SERVICE_STOPPED);
    return;
  }
  OnServiceStart();
  WaitForSingleObject(stopEvent_.get(), INFINITE);
  ReportState(SERVICE_STOPPED);
}

BOOL CQuilService::ReportState(DWORD state) {
  status_.dwCurrentState = state;
  status_.dwCheckPoint = 0;
  status_.dwWaitHint = 0;
  return SetServiceStatus(statusHandle_, &status_);
}

void CQuilService::HandleControl(DWORD control, DWORD eventType, const void* eventData) {
  if (control == SERVICE_CONTROL_STOP) {
    ReportState(SERVICE_STOP_PENDING);
    OnServiceStop();
    SetEvent(stopEvent_.get());
    return;
  }
  if (control != SERVICE_CONTROL_SESSIONCHANGE || !eventData) return;
  const DWORD sessionId = static_cast<const WTSSESSION_NOTIFICATION*>(eventData)->dwSessionId;
  if (eventType == WTS_SESSION_LOGON) OnLogon(sessionId);
  if (eventType == WTS_SESSION_LOGOFF) OnLogoff(sessionId);
  if (eventType == WTS_REMOTE_DISCONNECT) OnRemoteDisconnect(sessionId);
  if (eventType == WTS_REMOTE_CONNECT) OnRemoteConnect(sessionId);
}

void CQuilService::OnServiceStart() {
  quil::Log(L"Service: OnServiceStart");
  quil::WtsSessionList sessions;
  if (!sessions.Enumerate()) return;
  for (const WTS_SESSION_INFOW& session : sessions) {
    quil::Log(L"Service: WinSta %s Logon session id: %d", session.pWinStationName, session.SessionId);
    OnLogon(session.SessionId);
  }
}

void CQuilService::OnServiceStop() {
  quil::Log(L"Service: OnServiceStop");
  quil::WtsSessionList sessions;
  if (!sessions.Enumerate()) return;
  for (const WTS_SESSION_INFOW& session : sessions) {
    quil::Log(L"Service: WinSta %s Logoff session id: %d", session.pWinStationName, session.SessionId);
    OnLogoff(session.SessionId);
  }
}

void CQuilService::OnLogon(DWORD sessionId) {
  quil::Log(L"Service: Logon Session id: %d", sessionId);
  // The library keeps a copy of the token for the session's life; this handle ends here.
  quil::UniqueHandle token;
  if (!WTSQueryUserToken(sessionId, token.put())) return;
  auto logon = FindExport<QuilEventLogonFn>(library_.get(), "QuilEventLogon");
  if (logon) logon(sessionId, token.get());
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
  auto logoff = FindExport<QuilEventLogoffFn>(library_.get(), "QuilEventLogoff");
  if (logoff) logoff(sessionId, nullptr);
}
