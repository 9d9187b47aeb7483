#include "SimServiceControlManager.h"

#include <algorithm>

#include "SimImportSlot.h"

namespace sim {
namespace {

const SERVICE_STATUS_HANDLE kStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(0x51C0);
// How long the manager waits for a control handler to return.
constexpr DWORD kHandlerTimeLimitMs = 30000;

struct ServiceStart {
  LPSERVICE_MAIN_FUNCTIONW main;
  wchar_t* name;
};

DWORD WINAPI ServiceMainThread(LPVOID parameter) {
  auto* start = static_cast<ServiceStart*>(parameter);
  LPWSTR argv[] = {start->name, nullptr};
  start->main(1, argv);
  return 0;
}

}  // namespace

SimServiceControlManager& SimServiceControlManager::Instance() {
  static SimServiceControlManager manager;
  return manager;
}

SimServiceControlManager::SimServiceControlManager()
    : controlPosted_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      reported_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

void SimServiceControlManager::Reset() {
  Guard guard(lock_);
  reports_.clear();
  pending_.clear();
  dispatcherError_ = registrationError_ = failingState_ = statusError_ = 0;
  handler_ = nullptr;
  handlerContext_ = nullptr;
  dispatchedName_.clear();
  registeredName_.clear();
  dispatcherThreadId_ = 0;
}

void SimServiceControlManager::FailDispatcherStart(DWORD error) {
  Guard guard(lock_);
  dispatcherError_ = error;
}

void SimServiceControlManager::FailHandlerRegistration(DWORD error) {
  Guard guard(lock_);
  registrationError_ = error;
}

void SimServiceControlManager::FailStatusReport(DWORD state, DWORD error) {
  Guard guard(lock_);
  failingState_ = state;
  statusError_ = error;
}

DWORD SimServiceControlManager::SendControl(DWORD control, DWORD eventType, void* eventData) {
  auto sent = std::make_shared<Control>(
      Control{control, eventType, eventData, {}, 0, quil::UniqueHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr))});
  if (control == SERVICE_CONTROL_SESSIONCHANGE && eventData) {
    sent->notification = *static_cast<const WTSSESSION_NOTIFICATION*>(eventData);
    sent->eventData = &sent->notification;
  }
  {
    Guard guard(lock_);
    pending_.push_back(sent);
  }
  SetEvent(controlPosted_.get());
  if (WaitForSingleObject(sent->done.get(), kHandlerTimeLimitMs) != WAIT_OBJECT_0) return ERROR_SERVICE_REQUEST_TIMEOUT;
  Guard guard(lock_);
  return sent->result;
}

bool SimServiceControlManager::WaitForState(DWORD state, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    {
      Guard guard(lock_);
      if (std::any_of(reports_.begin(), reports_.end(),
                      [state](const SimStatusReport& r) { return r.status.dwCurrentState == state; })) {
        return true;
      }
    }
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) return false;
    WaitForSingleObject(reported_.get(), timeoutMs - elapsed);
  }
}

std::vector<SimStatusReport> SimServiceControlManager::Reports() {
  Guard guard(lock_);
  return reports_;
}

std::wstring SimServiceControlManager::DispatchedServiceName() {
  Guard guard(lock_);
  return dispatchedName_;
}

std::wstring SimServiceControlManager::RegisteredHandlerName() {
  Guard guard(lock_);
  return registeredName_;
}

SERVICE_STATUS_HANDLE SimServiceControlManager::IssuedStatusHandle() const { return kStatusHandle; }

DWORD SimServiceControlManager::DispatcherThreadId() {
  Guard guard(lock_);
  return dispatcherThreadId_;
}

// Like the real dispatcher: starts the first service's main routine on a new thread and runs the
// control handler on the calling thread until that service has ended.
BOOL SimServiceControlManager::StartDispatcher(const SERVICE_TABLE_ENTRYW* table) {
  ServiceStart start{};
  {
    Guard guard(lock_);
    if (dispatcherError_) {
      SetLastError(dispatcherError_);
      return FALSE;
    }
    dispatcherThreadId_ = GetCurrentThreadId();
    dispatchedName_ = table[0].lpServiceName;
    start = {table[0].lpServiceProc, table[0].lpServiceName};
  }
  quil::UniqueHandle serviceThread(CreateThread(nullptr, 0, ServiceMainThread, &start, 0, nullptr));
  const HANDLE waits[] = {serviceThread.get(), controlPosted_.get()};
  while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) DispatchPendingControls();
  return TRUE;
}

void SimServiceControlManager::DispatchPendingControls() {
  for (;;) {
    std::shared_ptr<Control> control;
    LPHANDLER_FUNCTION_EX handler;
    LPVOID context;
    {
      Guard guard(lock_);
      if (pending_.empty()) return;
      control = pending_.front();
      pending_.pop_front();
      handler = handler_;
      context = handlerContext_;
    }
    const DWORD result =
        handler ? handler(control->code, control->eventType, control->eventData, context) : ERROR_SERVICE_NOT_ACTIVE;
    {
      Guard guard(lock_);
      control->result = result;
    }
    SetEvent(control->done.get());
  }
}

SERVICE_STATUS_HANDLE SimServiceControlManager::RegisterHandler(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                                LPVOID context) {
  Guard guard(lock_);
  registeredName_ = name ? name : L"";
  if (registrationError_) {
    SetLastError(registrationError_);
    return nullptr;
  }
  handler_ = handler;
  handlerContext_ = context;
  return kStatusHandle;
}

BOOL SimServiceControlManager::SetStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
  Guard guard(lock_);
  reports_.push_back({handle, *status});
  SetEvent(reported_.get());
  if (handle != kStatusHandle) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (statusError_ && status->dwCurrentState == failingState_) {
    SetLastError(statusError_);
    return FALSE;
  }
  return TRUE;
}

}  // namespace sim

// advapi32 declares these as imported, so callers go through import slots; defining the slots
// here routes every caller in this executable to the simulation.
namespace {

WINBOOL WINAPI SimStartServiceCtrlDispatcherW(const SERVICE_TABLE_ENTRYW* table) {
  return sim::SimServiceControlManager::Instance().StartDispatcher(table);
}

SERVICE_STATUS_HANDLE WINAPI SimRegisterServiceCtrlHandlerExW(LPCWSTR name, LPHANDLER_FUNCTION_EX handler,
                                                              LPVOID context) {
  return sim::SimServiceControlManager::Instance().RegisterHandler(name, handler, context);
}

WINBOOL WINAPI SimSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  return sim::SimServiceControlManager::Instance().SetStatus(handle, status);
}

}  // namespace

extern "C" {
decltype(&SimStartServiceCtrlDispatcherW) simStartDispatcherSlot __asm__(
    SIM_IMPORT_SLOT(StartServiceCtrlDispatcherW, 4)) = &SimStartServiceCtrlDispatcherW;
decltype(&SimRegisterServiceCtrlHandlerExW) simRegisterHandlerSlot __asm__(
    SIM_IMPORT_SLOT(RegisterServiceCtrlHandlerExW, 12)) = &SimRegisterServiceCtrlHandlerExW;
decltype(&SimSetServiceStatus) simSetStatusSlot __asm__(SIM_IMPORT_SLOT(SetServiceStatus, 8)) =
    &SimSetServiceStatus;
}
