// The print spooler as the server side uses it: printers added and deleted, the monitor's
// transceive object ",XcvMonitor Quillon Port" whose commands reach a monitor stand-in, and a
// default printer per account, read and set as the calling thread's identity (impersonated or
// not, see SimTerminalServer::CallingAccount) decides. Linking it into an executable replaces
// OpenPrinterW, ClosePrinter, XcvDataW, AddPrinterW, SetPrinterW, DeletePrinter,
// GetDefaultPrinterW, SetDefaultPrinterW and EnumPortsW for the whole executable.
//
// It also hosts jobs as the port monitor reads them: "printer,Job N" opens, GetJobW level 2 with
// the two-call size protocol, ReadPrinter over the job's spool data in pieces of varying size,
// and SetJobW recorded; and EnumPrintersW at levels 2 and 5 as the calling identity may see the
// printers. A printer's security descriptor decides as the spooler's access check would:
// EnumPrintersW leaves out a printer whose descriptor grants the caller's SID (the local system
// account for the process's own identity) neither use nor administration, OpenPrinterW refuses
// (ERROR_ACCESS_DENIED) rights it does not grant, and a handle allows only what was granted when
// it was opened (a purge needs PRINTER_ACCESS_ADMINISTER, a deletion DELETE). PRINTER_ENUM_LOCAL
// lists the printers of this server; PRINTER_ENUM_CONNECTIONS adds the calling account's
// connections to printers of print servers, which the spooler asks those servers about: one that
// does not answer holds the call up. EnumPortsW lists the monitor stand-in's ports.
#pragma once

#include <windows.h>

#include <winspool.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PortSettingsBlock.h"
#include "SimLock.h"
#include "UniqueHandle.h"

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
  std::wstring onlyFor;  // the one account (besides the process's own) that may enumerate it; empty: all
};

// A job's spool data, produced on demand so that a long job need not be held in memory.
class SimSpoolData {
 public:
  virtual ~SimSpoolData() = default;
  virtual uint64_t Size() const = 0;
  virtual void CopyAt(uint64_t offset, uint8_t* buffer, size_t size) const = 0;
};

class SimSpoolBytes : public SimSpoolData {
 public:
  explicit SimSpoolBytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() const override { return bytes_.size(); }
  void CopyAt(uint64_t offset, uint8_t* buffer, size_t size) const override;

 private:
  std::vector<uint8_t> bytes_;
};

// A spool file header of 16 bytes, then `count` page records that all carry the same metafile.
class SimRepeatedPages : public SimSpoolData {
 public:
  SimRepeatedPages(std::vector<uint8_t> metafile, uint32_t count);
  uint64_t Size() const override;
  void CopyAt(uint64_t offset, uint8_t* buffer, size_t size) const override;

 private:
  std::vector<uint8_t> prefix_;  // file header and the first record head
  std::vector<uint8_t> record_;  // metafile, then the next record's head
  uint32_t count_;
};

struct SimJob {
  std::optional<std::vector<uint8_t>> devMode;  // the whole DEVMODEW with its private bytes; none: no DEVMODE
  std::wstring documentName;
  std::shared_ptr<const SimSpoolData> data;
  std::vector<size_t> pieces = {1, 7, 4096, 3, 65536, 100, 1 << 20};  // ReadPrinter delivers at most these, in turn
  std::optional<uint64_t> failReadsAt;  // ReadPrinter fails once this many bytes were delivered
  DWORD getJobError = 0;                // set: GetJobW fails with it
};

struct SimSetJobCall {
  DWORD jobId;
  DWORD level;
  bool withInfo;
  DWORD command;
};
class SimSpooler {
 public:
  // One entry of an enumeration, as its PRINTER_INFO structure names it.
  struct ListedPrinter {
    std::wstring name;
    std::wstring port;
    std::wstring server;  // empty: this server
    std::wstring driver;
  };
  static constexpr const wchar_t* kXcvMonitorName = L",XcvMonitor Quillon Port";

  static SimSpooler& Instance();

  // Forgets printers, ports, calls and switches, and closes nothing (open handles stay valid).
  void Reset();

  // A printer that exists before the system adds any (for instance a user's own default).
  void AddExistingPrinter(const std::wstring& name);
  // A printer on `port`; `onlyFor` non-empty: only that account may enumerate it.
  void AddPrinterOn(const std::wstring& name, const std::wstring& port, const std::wstring& onlyFor = L"");
  // A connection of `account` to the printer `name` ("\\SERVER\Printer") of a print server,
  // whose port there is `port`.
  void AddConnection(const std::wstring& account, const std::wstring& name, const std::wstring& port);
  // Print servers that do not answer, as when one is down: an enumeration that asks them waits
  // until they answer again.
  void SetPrintServersAnswering(bool answering);
  // A busy spooler: while held, every enumeration waits until it is released.
  void HoldEnumerations(bool hold);
  // Enumerations waiting for a print server or the held spooler now.
  size_t WaitingEnumerations();
  // A printer on a driver of the caller's choice (for instance one that an earlier run of the
  // system left), with the spooler's default security.
  void AddPrinterOnDriver(const std::wstring& name, const std::wstring& port, const std::wstring& driver);
  // A port that the monitor stand-in holds already, with its settings if any.
  void AddMonitorPort(const std::wstring& port, std::optional<quil::PortSettings> settings);
  // A job of the printer, served through "<printer>,Job <id>".
  void AddJob(const std::wstring& printer, DWORD jobId, SimJob job);
  uint64_t JobBytesRead(DWORD jobId);
  std::vector<SimSetJobCall> SetJobCalls();
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
  // The calls a port monitor made for jobs, in order: "OpenPrinter <name>", "ClosePrinter <name>"
  // (printers with jobs and job paths), "GetJob <id> <size>" (size 0: the sizing call),
  // "SetJob <id> <command>", "EnumPrinters <account>".
  std::vector<std::wstring> JobJournal();
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
  BOOL OnEnumPrinters(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, DWORD* needed,
                      DWORD* returned);
  // The monitor stand-in's ports, at level 1.
  BOOL OnEnumPorts(LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, DWORD* needed, DWORD* returned);
  BOOL OnGetJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, DWORD* needed);
  BOOL OnReadPrinter(HANDLE handle, LPVOID buffer, DWORD size, DWORD* read);
  BOOL OnSetJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE info, DWORD command);
  // Refuses a driver that one of the simulated printers uses, as Windows' spooler does and
  // Wine's does not; any other deletion goes on to Wine's spooler.
  BOOL OnDeletePrinterDriver(LPWSTR server, LPWSTR environment, LPWSTR driver);

 private:
  struct OpenHandle {
    bool xcv = false;
    std::wstring printer;
    DWORD access = 0;
    std::optional<DWORD> job;  // a "<printer>,Job <id>" handle
  };
  struct Connection {
    std::wstring account;
    std::wstring name;
    std::wstring port;
  };
  struct HostedJob {
    SimJob job;
    uint64_t position = 0;
    size_t nextPiece = 0;
  };

  SimSpooler() = default;
  SimPrinter* Find(const std::wstring& name);
  OpenHandle* FindHandle(HANDLE handle);
  HANDLE NewHandle(OpenHandle record);
  DWORD RunMonitorCommand(const std::wstring& command, const BYTE* input, DWORD inputSize);
  void WaitForEnumeration(bool asksPrintServers);
  std::vector<ListedPrinter> Listed(DWORD flags, const std::wstring& account,
                                    const std::optional<std::vector<uint8_t>>& caller);

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
  std::vector<Connection> connections_;
  quil::UniqueHandle printServersAnswer_{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
  quil::UniqueHandle enumerationsReleased_{CreateEventW(nullptr, TRUE, TRUE, nullptr)};
  size_t waitingEnumerations_ = 0;
  std::map<DWORD, HostedJob> jobs_;
  std::vector<SimSetJobCall> setJobCalls_;
  std::vector<std::wstring> jobJournal_;
  std::vector<std::wstring> journal_;
  uintptr_t nextHandle_ = 0x5100;
  size_t invalidCloses_ = 0;
};

}  // namespace sim
