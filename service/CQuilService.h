// The session service: turns terminal-server session logon and logoff into calls of the
// notification library, and replays them for every session when the service starts and stops.
// The control handler only queues session changes and the stop; one worker thread does the
// library's work in that order, so that no control waits behind a slow logon or logoff.
#pragma once

#include <windows.h>

#include <set>
#include <string>

#include "CriticalSection.h"
#include "SessionChangeQueue.h"
#include "UniqueHandle.h"

class CQuilService {
 public:
  // The process-wide service object; the first call loads the notification library.
  static CQuilService& Instance();

  // Program main routine: runs the service control dispatcher; always returns 0.
  int Run();

  static void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
  static DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);

 private:
  CQuilService();
  ~CQuilService();
  CQuilService(const CQuilService&) = delete;
  CQuilService& operator=(const CQuilService&) = delete;

  static DWORD WINAPI WorkerMain(LPVOID self);

  void RunService();
  bool StartWorker();
  void HandleControl(DWORD control, DWORD eventType, const void* eventData);
  void RequestStop();
  BOOL ReportState(DWORD state);
  BOOL ReportFailure(DWORD error);
  void ReportStopProgress();

  void Work();
  void Apply(const quil::SessionChange& change);
  void OnServiceStart();
  void OnServiceStop();
  void OnLogon(DWORD sessionId);
  void OnLogoff(DWORD sessionId);
  void OnRemoteDisconnect(DWORD sessionId);
  void OnRemoteConnect(DWORD sessionId);

  const wchar_t* const serviceName_ = L"QuillonService";
  const wchar_t* const libraryName_ = L"QuillonNotify.dll";
  quil::CriticalSection statusLock_;  // the handler and the worker both report stop progress
  SERVICE_STATUS status_{};
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  quil::SessionChangeQueue changes_;
  bool stopRequested_ = false;  // the handler's thread only
  std::set<DWORD> loggedOn_;    // the worker's thread only: sessions handed to the library's logon
  quil::UniqueHandle worker_;
  quil::UniqueModule library_;
};
