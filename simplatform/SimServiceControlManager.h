// A simulated service control manager: it runs a service program's dispatcher as the real one
// does (service main on a thread of its own, controls delivered one at a time and in order on the
// dispatcher's thread, a session change's notification copied for the handler), gives a control
// handler 30 seconds to return, as the real one does, records every status report, and can be
// told to fail any of its calls. Linking the simulated
// platform into an executable replaces StartServiceCtrlDispatcherW, RegisterServiceCtrlHandlerExW
// and SetServiceStatus for the whole executable.
#pragma once

#include <windows.h>

#include <wtsapi32.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "SimLock.h"
#include "UniqueHandle.h"

namespace sim {

struct SimStatusReport {
  SERVICE_STATUS_HANDLE handle;
  SERVICE_STATUS status;
};

class SimServiceControlManager {
 public:
  static SimServiceControlManager& Instance();

  // Clears the recorded reports and the failure switches.
  void Reset();
  void FailDispatcherStart(DWORD error);
  void FailHandlerRegistration(DWORD error);
  // The report of this state fails with the given error.
  void FailStatusReport(DWORD state, DWORD error);

  // Delivers a control to the registered handler on the dispatcher's thread, after the controls
  // sent before it, and returns the handler's result; ERROR_SERVICE_REQUEST_TIMEOUT when the
  // handler has not returned within the manager's time limit (the control stays delivered).
  DWORD SendControl(DWORD control, DWORD eventType = 0, void* eventData = nullptr);
  // Waits (at most the given time) until the service has reported the state.
  bool WaitForState(DWORD state, DWORD timeoutMs = 10000);

  std::vector<SimStatusReport> Reports();
  std::wstring DispatchedServiceName();
  std::wstring RegisteredHandlerName();
  SERVICE_STATUS_HANDLE IssuedStatusHandle() const;
  DWORD DispatcherThreadId();

  // The service control manager calls, as the replaced platform functions forward them.
  BOOL StartDispatcher(const SERVICE_TABLE_ENTRYW* table);
  SERVICE_STATUS_HANDLE RegisterHandler(LPCWSTR name, LPHANDLER_FUNCTION_EX handler, LPVOID context);
  BOOL SetStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);

 private:
  struct Control {
    DWORD code, eventType;
    void* eventData;
    WTSSESSION_NOTIFICATION notification;  // the handler's copy of a session change's data
    DWORD result;
    quil::UniqueHandle done;
  };
  SimServiceControlManager();
  void DispatchPendingControls();

  CriticalSection lock_;
  quil::UniqueHandle controlPosted_, reported_;
  std::deque<std::shared_ptr<Control>> pending_;
  DWORD dispatcherThreadId_ = 0;
  LPHANDLER_FUNCTION_EX handler_ = nullptr;
  LPVOID handlerContext_ = nullptr;
  std::wstring dispatchedName_, registeredName_;
  std::vector<SimStatusReport> reports_;
  DWORD dispatcherError_ = 0, registrationError_ = 0;
  DWORD failingState_ = 0, statusError_ = 0;
};

}  // namespace sim
