// The session service: turns terminal-server session logon and logoff into calls of the
// notification library, and replays them for every session when the service starts and stops.
#pragma once

#include <windows.h>

#include <string>

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

  void RunService();
  void HandleControl(DWORD control, DWORD eventType, const void* eventData);
  BOOL ReportState(DWORD state);

  void OnServiceStart();
  void OnServiceStop();
  void OnLogon(DWORD sessionId);
  void OnLogoff(DWORD sessionId);
  void OnRemoteDisconnect(DWORD sessionId);
  void OnRemoteConnect(DWORD sessionId);

  const wchar_t* const serviceName_ = L"QuillonService";
  const wchar_t* const libraryName_ = L"QuillonNotify.dll";
  SERVICE_STATUS status_{};
  SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
  quil::UniqueHandle stopEvent_;
  quil::UniqueModule library_;
};
