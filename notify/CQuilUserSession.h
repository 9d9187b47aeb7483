// One logged-on terminal-server session: a thread that creates the session's named disconnect and
// reconnect events, asks the session's client over "QPrn" for its printers, creates a session
// printer for each (the client's default becoming the user's default), and then waits for those
// events and for its own stop event. The printers are deleted, and the user's earlier default
// printer restored, at disconnect and at stop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "CQuilPrintersManager.h"
#include "UniqueHandle.h"

namespace quil {

class CQuilServerVirtChannel;

class CQuilUserSession {
 public:
  // The session impersonates the user, and makes her printers hers, with a copy of the token; the
  // caller keeps its own handle.
  CQuilUserSession(DWORD sessionId, const wchar_t* userName, HANDLE userToken);
  // Stops the thread if it still runs.
  ~CQuilUserSession();
  CQuilUserSession(const CQuilUserSession&) = delete;
  CQuilUserSession& operator=(const CQuilUserSession&) = delete;

  // Starts the session thread, once.
  void Logon();
  // Signals the stop event, which also ends a printer-list exchange under way, and waits for the
  // thread to end.
  void Stop();

  // "Global\Quillon-<session>-Disconnect" and "Global\Quillon-<session>-Reconnect".
  static std::wstring DisconnectEventName(DWORD sessionId);
  static std::wstring ReconnectEventName(DWORD sessionId);

 private:
  static DWORD WINAPI ThreadMain(LPVOID self);
  void Run();
  void GetPrinters();
  // False when the channel failed, which ends the exchange; a malformed record or a printer that
  // cannot be created only skips that printer.
  bool GetPrinter(uint32_t index, CQuilServerVirtChannel& channel);
  void DeletePrinters();
  void RecordDefaultPrinter();
  UniqueHandle WatchedEvent(const std::wstring& name);

  DWORD sessionId_;
  std::wstring userName_;
  UniqueHandle userToken_;
  UniqueHandle stopEvent_;  // manual-reset: it also releases the channel of an exchange
  std::vector<std::unique_ptr<CQuilPrintersManager>> printers_;
  std::wstring savedDefaultPrinter_;
  UniqueHandle thread_;
};

}  // namespace quil
