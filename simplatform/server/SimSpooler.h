// The print spooler as the server side uses it: printers added and deleted, the monitor's
// transceive object ",XcvMonitor Quillon Port" whose commands reach a monitor stand-in, and a
// default printer per account, read and set as the calling thread's identity (impersonated or
// not, see SimTerminalServer::CallingAccount) decides. Linking it into an executable replaces
// OpenPrinterW, ClosePrinter, XcvDataW, AddPrinterW, SetPrinterW, DeletePrinter,
// GetDefaultPrinterW and SetDefaultPrinterW for the whole executable.
#pragma once

#include <windows.h>

#include <winspool.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "PortSettingsBlock.h"
#include "SimLock.h"

namespace sim {

// One command that reached the monitor stand-in.
struct SimXcvCall {
  std::wstring command;
  std::vector<uint8_t> input;
  DWORD outputSize = 0;
  DWORD openAccess = 0;   // access requested when the transceive object was opened
  std::wstring account;   // the caller's identity
};

struct SimPrinter {
  std::wstring name;
  std::wstring port;
  std::wstring driver;
  std::wstring printProcessor;
  bool otherMembersEmpty = false;  // share name, comment, DEVMODE, datatype, attributes... all unset
  std::vector<uint8_t> securityDescriptor;  // self-relative copy of what was given; empty: none
  std::wstring addedBy;  // the caller's identity
  size_t purges = 0;
};

class SimSpooler {
 public:
  static constexpr const wchar_t* kXcvMonitorName = L",XcvMonitor Quillon Port";

  static SimSpooler& Instance();

  // Forgets printers, ports, calls and switches, and closes nothing (open handles stay valid).
  void Reset();

  // A printer that exists before the system adds any (for instance a user's own default).
  void AddExistingPrinter(const std::wstring& name);
  // The default printer of an account ("" is the process's own identity, the local system account).
  void SetDefaultPrinterOf(const std::wstring& account, const std::wstring& printer);
  std::optional<std::wstring> DefaultPrinterOf(const std::wstring& account);

  // Failure switches. A refusing status: the command reaches the stand-in, which answers with
  // the status and changes nothing; XcvDataW succeeds. A failing call: XcvDataW returns FALSE.
  void SetXcvStatus(const std::wstring& command, DWORD status);
  void FailXcvCall(const std::wstring& command, DWORD error);
  void FailXcvOpen(DWORD error);
  void FailDeletePrinter(const std::wstring& printer, DWORD error);

  std::vector<SimXcvCall> XcvCalls();
  // The ports the monitor stand-in holds, with the settings last stored for each.
  std::map<std::wstring, std::optional<quil::PortSettings>> Ports();
  std::vector<SimPrinter> Printers();  // in the order they were added
  std::optional<SimPrinter> Printer(const std::wstring& name);
  // What happened, in order: "AddPort <port>", "RemovePort <port>", "PortSettings <port>",
  // "AddPrinter <name>", "Purge <name>", "DeletePrinter <name>", "SetDefault <account>: <name>".
  std::vector<std::wstring> Journal();
  size_t OpenHandles();
  // ClosePrinter calls on handles that were not open.
  size_t InvalidCloses();

  // The platform calls.
  BOOL OnOpenPrinter(LPWSTR name, HANDLE* handle, PRINTER_DEFAULTSW* defaults);
  BOOL OnClosePrinter(HANDLE handle);
  BOOL OnXcvData(HANDLE handle, PCWSTR command, const BYTE* input, DWORD inputSize, BYTE* output, DWORD outputSize,
               DWORD* needed, DWORD* status);
  HANDLE OnAddPrinter(LPWSTR server, DWORD level, const BYTE* info);
  BOOL OnSetPrinter(HANDLE handle, DWORD level, const BYTE* info, DWORD command);
  BOOL OnDeletePrinter(HANDLE handle);
  BOOL OnGetDefaultPrinter(LPWSTR buffer, DWORD* size);
  BOOL OnSetDefaultPrinter(LPCWSTR name);

 private:
  struct OpenHandle {
    bool xcv = false;
    std::wstring printer;
    DWORD access = 0;
  };

  SimSpooler() = default;
  SimPrinter* Find(const std::wstring& name);
  OpenHandle* FindHandle(HANDLE handle);
  HANDLE NewHandle(OpenHandle record);
  DWORD RunMonitorCommand(const std::wstring& command, const BYTE* input, DWORD inputSize);

  CriticalSection lock_;
  std::vector<SimPrinter> printers_;
  std::map<std::wstring, std::optional<quil::PortSettings>> ports_;
  std::map<std::wstring, std::wstring> defaults_;
  std::map<HANDLE, OpenHandle> handles_;
  std::map<std::wstring, DWORD> xcvStatus_;
  std::map<std::wstring, DWORD> xcvCallError_;
  std::map<std::wstring, DWORD> deleteError_;
  DWORD xcvOpenError_ = 0;
  std::vector<SimXcvCall> xcvCalls_;
  std::vector<std::wstring> journal_;
  uintptr_t nextHandle_ = 0x5100;
  size_t invalidCloses_ = 0;
};

}  // namespace sim
