// One client printer redirected into a terminal-server session: its own port, added through the
// port monitor's transceive commands, and a spooler printer on that port that only the session's
// user and the local system account may use.
#pragma once

#include <windows.h>

#include <string>

#include "UniquePrinter.h"

namespace quil {

class CQuilPrintersManager {
 public:
  CQuilPrintersManager(DWORD sessionId, const std::wstring& userName, const std::wstring& domainName,
                       const std::wstring& clientPrinterName, int printerIndex);

  // Port, printer and port settings, in this order. False (with nothing left behind) when the
  // port or the printer could not be added.
  bool CreatePrinter();
  // Makes the printer the calling thread's user's default; the caller impersonates the user.
  bool SetAsDefaultPrinter();
  // Deletes the printer, then removes its port.
  bool RemoveUserPrinter();

  // "<client name> (<user> : <session>)", a network name "\\server\printer" read as
  // "printer on server".
  static std::wstring MakePrinterName(const std::wstring& clientPrinterName, const std::wstring& userName,
                                      DWORD sessionId);
  // "QPRN[<session>:<index>:<counter>]"; advances the process-wide port counter.
  static std::wstring MakePortName(DWORD sessionId, int printerIndex);

  const std::wstring& PrinterName() const { return printerName_; }
  const std::wstring& PortName() const { return portName_; }

 private:
  bool AddSessionPort();
  bool AddUserPrinter();
  bool SendPortSettings();
  bool RemoveSessionPort();
  bool DeleteUserPrinter();
  bool Transceive(const wchar_t* command, const void* input, DWORD inputSize);

  DWORD sessionId_;
  std::wstring userName_;
  std::wstring domainName_;
  std::wstring printerName_;
  std::wstring clientPrinterName_;
  std::wstring portName_;
  UniquePrinter printer_;
  int printerIndex_;
};

}  // namespace quil
