// One client printer redirected into a terminal-server session: its own port, added through the
// port monitor's transceive commands, and a spooler printer on that port that only the session's
// user (the user of the session's token) and the local system account may use.
#pragma once

#include <windows.h>

#include <string>

#include "UniquePrinter.h"

namespace quil {

class CQuilPrintersManager {
 public:
  // The token is the session user's; it is read while the printer is made and not kept.
  CQuilPrintersManager(DWORD sessionId, const std::wstring& userName, HANDLE userToken,
                       const std::wstring& clientPrinterName, int printerIndex);

  // Port, printer and port settings, in this order. False (with nothing left behind) when the
  // port, the printer or the port's settings could not be added: a port that the monitor holds
  // without this session's settings cannot carry the printer's jobs to the user's client.
  bool CreatePrinter();
  // Makes the printer the calling thread's user's default; the caller impersonates the user.
  bool SetAsDefaultPrinter();
  // Deletes the printer, then removes its port.
  bool RemoveUserPrinter();

  // "<client name> (<user> : <session>)", a network name "\\server\printer" read as
  // "printer on server".
  static std::wstring MakePrinterName(const std::wstring& clientPrinterName, const std::wstring& userName,
                                      DWORD sessionId);
  // The part that the printer name adds to the client's: " (<user> : <session>)".
  static std::wstring PrinterNameSuffix(const std::wstring& userName, DWORD sessionId);
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

  DWORD sessionId_;
  std::wstring userName_;
  HANDLE userToken_;
  std::wstring printerName_;
  std::wstring clientPrinterName_;
  std::wstring portName_;
  UniquePrinter printer_;
  int printerIndex_;
};

}  // namespace quil
