#include "SimSpooler.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>

#include "SimTerminalServer.h"

namespace sim {
namespace {

const std::vector<uint8_t> kLocalSystemSid{1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const std::vector<uint8_t> kEveryoneSid{1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};

// Generic rights as the spooler maps them for a printer.
ACCESS_MASK MapPrinterRights(ACCESS_MASK rights) {
  GENERIC_MAPPING mapping{PRINTER_READ, PRINTER_WRITE, PRINTER_EXECUTE, PRINTER_ALL_ACCESS};
  MapGenericMask(&rights, &mapping);
  return rights;
}

bool SameSid(const void* sid, const std::vector<uint8_t>& expected) {
  auto* entrySid = const_cast<void*>(sid);
  return GetLengthSid(entrySid) == expected.size() && std::memcmp(entrySid, expected.data(), expected.size()) == 0;
}

// The rights on the printer that its descriptor grants the caller (nullopt: the process's own
// identity, the local system account), as the spooler's access check decides. A printer added
// without one has the spooler's default security: everyone may print and read it, the local
// system account may do everything. Otherwise the allowed entries for the caller's SID or for
// Everyone that apply to the printer itself (not those only its jobs inherit) add up.
ACCESS_MASK Granted(const SimPrinter& printer, const std::optional<std::vector<uint8_t>>& caller) {
  if (printer.securityDescriptor.empty()) return caller ? PRINTER_READ : PRINTER_ALL_ACCESS;
  const std::vector<uint8_t>& sid = caller ? *caller : kLocalSystemSid;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  auto* descriptor = const_cast<uint8_t*>(printer.securityDescriptor.data());
  if (sid.empty() || !GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return 0;
  if (!present || !dacl) return PRINTER_ALL_ACCESS;  // no discretionary list: no restriction
  ACCESS_MASK granted = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) return 0;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE)) continue;
    if (SameSid(&allowed->SidStart, sid) || SameSid(&allowed->SidStart, kEveryoneSid)) {
      granted |= MapPrinterRights(allowed->Mask);
    }
  }
  return granted;
}

std::wstring Text(const wchar_t* text) { return text ? text : L""; }

// The port name that "AddPort" and "RemovePort" carry: UTF-16 with its NUL.
std::wstring PortNameInput(const BYTE* input, DWORD size) {
  if (!input || size < 2 || size % 2) return L"?";
  std::wstring name(reinterpret_cast<const wchar_t*>(input), size / 2);
  if (name.back() != L'\0') return L"?";
  name.pop_back();
  return name;
}

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<uint8_t> SelfRelativeCopy(PSECURITY_DESCRIPTOR descriptor) {
  DWORD size = 0;
  MakeSelfRelativeSD(descriptor, nullptr, &size);
  std::vector<uint8_t> copy(size);
  if (size == 0 || !MakeSelfRelativeSD(descriptor, copy.data(), &size)) return {1};  // unreadable: not empty
  return copy;
}

DWORD TextBytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

// Strings written from the end of the caller's buffer downwards.
class StringPacker {
 public:
  explicit StringPacker(BYTE* end) : end_(end) {}
  LPWSTR Pack(const std::wstring& text) {
    end_ -= TextBytes(text);
    std::memcpy(end_, text.c_str(), TextBytes(text));
    return reinterpret_cast<LPWSTR>(end_);
  }
  LPWSTR PackUnlessEmpty(const std::wstring& text) { return text.empty() ? nullptr : Pack(text); }

 private:
  BYTE* end_;
};

DWORD EntrySize(DWORD level) { return level == 2 ? sizeof(PRINTER_INFO_2W) : sizeof(PRINTER_INFO_5W); }

// "\\SERVER" of a connection's name "\\SERVER\Printer".
std::wstring ServerOf(const std::wstring& connection) { return connection.substr(0, connection.find(L'\\', 2)); }

DWORD ListedBytes(DWORD level, const SimSpooler::ListedPrinter& printer) {
  DWORD bytes = EntrySize(level) + TextBytes(printer.name) + TextBytes(printer.port);
  if (level == 2 && !printer.server.empty()) bytes += TextBytes(printer.server);
  if (level == 2 && !printer.driver.empty()) bytes += TextBytes(printer.driver);
  return bytes;
}

// One PRINTER_INFO_2W or PRINTER_INFO_5W entry.
void FillEntry(DWORD level, BYTE* entry, const SimSpooler::ListedPrinter& printer, StringPacker& strings) {
  const DWORD attributes = printer.server.empty() ? PRINTER_ATTRIBUTE_LOCAL : PRINTER_ATTRIBUTE_NETWORK;
  if (level == 2) {
    auto& info = *reinterpret_cast<PRINTER_INFO_2W*>(entry);
    info = {};
    info.pServerName = strings.PackUnlessEmpty(printer.server);
    info.pPrinterName = strings.Pack(printer.name);
    info.pPortName = strings.Pack(printer.port);
    info.pDriverName = strings.PackUnlessEmpty(printer.driver);
    info.Attributes = attributes;
  } else {
    *reinterpret_cast<PRINTER_INFO_5W*>(entry) = {strings.Pack(printer.name), strings.Pack(printer.port), attributes, 0, 0};
  }
}


bool OtherMembersEmpty(const PRINTER_INFO_2W& info) {
  return !info.pServerName && !info.pShareName && !info.pComment && !info.pLocation && !info.pDevMode &&
         !info.pSepFile && !info.pDatatype && !info.pParameters && !info.Attributes && !info.Priority &&
         !info.DefaultPriority && !info.StartTime && !info.UntilTime && !info.Status && !info.cJobs &&
         !info.AveragePPM;
}

}  // namespace

SimSpooler& SimSpooler::Instance() {
  static SimSpooler spooler;
  return spooler;
}

void SimSpooler::Reset() {
  Guard guard(lock_);
  printers_.clear();
  ports_.clear();
  defaults_.clear();
  xcvStatus_.clear();
  xcvCallError_.clear();
  deleteError_.clear();
  xcvOpenError_ = 0;
  xcvCalls_.clear();
  connections_.clear();
  SetPrintServersAnswering(true);
  HoldEnumerations(false);
  journal_.clear();
  jobs_.clear();
  setJobCalls_.clear();
  jobJournal_.clear();
  invalidCloses_ = 0;
}

void SimSpooler::AddExistingPrinter(const std::wstring& name) {
  Guard guard(lock_);
  printers_.push_back({name, L"LPT1:", L"Existing Driver", L"WinPrint", true, {}, L"", 0, L""});
}

void SimSpooler::AddPrinterOn(const std::wstring& name, const std::wstring& port, const std::wstring& onlyFor) {
  Guard guard(lock_);
  SimPrinter printer{name, port, L"Existing Driver", L"WinPrint", true, {}, L"", 0, L""};
  printer.onlyFor = onlyFor;
  printers_.push_back(std::move(printer));
}

void SimSpooler::AddConnection(const std::wstring& account, const std::wstring& name, const std::wstring& port) {
  Guard guard(lock_);
  connections_.push_back({account, name, port});
}

void SimSpooler::SetPrintServersAnswering(bool answering) {
  answering ? SetEvent(printServersAnswer_.get()) : ResetEvent(printServersAnswer_.get());
}

void SimSpooler::HoldEnumerations(bool hold) {
  hold ? ResetEvent(enumerationsReleased_.get()) : SetEvent(enumerationsReleased_.get());
}

size_t SimSpooler::WaitingEnumerations() {
  Guard guard(lock_);
  return waitingEnumerations_;
}

void SimSpooler::AddPrinterOnDriver(const std::wstring& name, const std::wstring& port, const std::wstring& driver) {
  Guard guard(lock_);
  printers_.push_back({name, port, driver, L"WinPrint", true, {}, L"", 0, L""});
}

void SimSpooler::AddMonitorPort(const std::wstring& port, std::optional<quil::PortSettings> settings) {
  Guard guard(lock_);
  ports_[port] = std::move(settings);
}

void SimSpooler::AddJob(const std::wstring& printer, DWORD jobId, SimJob job) {
  Guard guard(lock_);
  if (!Find(printer)) printers_.push_back({printer, L"", L"Existing Driver", L"WinPrint", true, {}, L"", 0, L""});
  jobs_[jobId] = {std::move(job), 0, 0};
}

uint64_t SimSpooler::JobBytesRead(DWORD jobId) {
  Guard guard(lock_);
  auto found = jobs_.find(jobId);
  return found == jobs_.end() ? 0 : found->second.position;
}

std::vector<SimSetJobCall> SimSpooler::SetJobCalls() {
  Guard guard(lock_);
  return setJobCalls_;
}

std::vector<std::wstring> SimSpooler::JobJournal() {
  Guard guard(lock_);
  return jobJournal_;
}

void SimSpooler::SetDefaultPrinterOf(const std::wstring& account, const std::wstring& printer) {
  Guard guard(lock_);
  defaults_[account] = printer;
}

std::optional<std::wstring> SimSpooler::DefaultPrinterOf(const std::wstring& account) {
  Guard guard(lock_);
  auto found = defaults_.find(account);
  if (found == defaults_.end()) return std::nullopt;
  return found->second;
}

void SimSpooler::SetXcvStatus(const std::wstring& command, DWORD status) {
  Guard guard(lock_);
  xcvStatus_[command] = status;
}

void SimSpooler::FailXcvCall(const std::wstring& command, DWORD error) {
  Guard guard(lock_);
  xcvCallError_[command] = error;
}

void SimSpooler::FailXcvOpen(DWORD error) {
  Guard guard(lock_);
  xcvOpenError_ = error;
}

void SimSpooler::FailDeletePrinter(const std::wstring& printer, DWORD error) {
  Guard guard(lock_);
  deleteError_[printer] = error;
}

std::vector<SimXcvCall> SimSpooler::XcvCalls() {
  Guard guard(lock_);
  return xcvCalls_;
}

std::map<std::wstring, std::optional<quil::PortSettings>> SimSpooler::Ports() {
  Guard guard(lock_);
  return ports_;
}

std::vector<SimPrinter> SimSpooler::Printers() {
  Guard guard(lock_);
  return printers_;
}

std::optional<SimPrinter> SimSpooler::Printer(const std::wstring& name) {
  Guard guard(lock_);
  SimPrinter* printer = Find(name);
  if (!printer) return std::nullopt;
  return *printer;
}

std::vector<std::wstring> SimSpooler::Journal() {
  Guard guard(lock_);
  return journal_;
}

size_t SimSpooler::OpenHandles() {
  Guard guard(lock_);
  return handles_.size();
}

size_t SimSpooler::InvalidCloses() {
  Guard guard(lock_);
  return invalidCloses_;
}

SimPrinter* SimSpooler::Find(const std::wstring& name) {
  auto found = std::find_if(printers_.begin(), printers_.end(),
                            [&name](const SimPrinter& printer) { return _wcsicmp(printer.name.c_str(), name.c_str()) == 0; });
  return found == printers_.end() ? nullptr : &*found;
}

SimSpooler::OpenHandle* SimSpooler::FindHandle(HANDLE handle) {
  auto found = handles_.find(handle);
  return found == handles_.end() ? nullptr : &found->second;
}

HANDLE SimSpooler::NewHandle(OpenHandle record) {
  const auto handle = reinterpret_cast<HANDLE>(nextHandle_ += 4);
  handles_[handle] = std::move(record);
  return handle;
}

BOOL SimSpooler::OnOpenPrinter(LPWSTR name, HANDLE* handle, PRINTER_DEFAULTSW* defaults) {
  const auto caller = SimTerminalServer::Instance().CallingSid();
  Guard guard(lock_);
  *handle = nullptr;
  const std::wstring printerName = Text(name);
  const DWORD access = defaults ? defaults->DesiredAccess : 0;
  if (printerName == kXcvMonitorName) {
    if (xcvOpenError_) {
      SetLastError(xcvOpenError_);
      return FALSE;
    }
    *handle = NewHandle({true, L"", access, std::nullopt});
    return TRUE;
  }
  if (const auto comma = printerName.find(L",Job "); comma != std::wstring::npos) {
    const std::wstring printer = printerName.substr(0, comma);
    const DWORD jobId = wcstoul(printerName.c_str() + comma + 5, nullptr, 10);
    jobJournal_.push_back(L"OpenPrinter " + printerName);
    if (!Find(printer) || !jobs_.count(jobId) || printerName != printer + L",Job " + std::to_wstring(jobId)) {
      SetLastError(ERROR_INVALID_PRINTER_NAME);
      return FALSE;
    }
    *handle = NewHandle({false, printer, access, jobId});
    return TRUE;
  }
  if (!jobs_.empty()) jobJournal_.push_back(L"OpenPrinter " + printerName);
  const SimPrinter* printer = Find(printerName);
  if (!printer) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  // No rights asked for: the right to print, as OpenPrinterW documents.
  const ACCESS_MASK granted = Granted(*printer, caller);
  const ACCESS_MASK wanted =
      access & MAXIMUM_ALLOWED ? granted : MapPrinterRights(access ? access : PRINTER_ACCESS_USE);
  if (!wanted || (wanted & ~granted)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  *handle = NewHandle({false, printerName, wanted, std::nullopt});
  return TRUE;
}

BOOL SimSpooler::OnClosePrinter(HANDLE handle) {
  Guard guard(lock_);
  if (const OpenHandle* open = FindHandle(handle); open && !open->xcv && (open->job || !jobs_.empty())) {
    jobJournal_.push_back(L"ClosePrinter " + open->printer +
                          (open->job ? L",Job " + std::to_wstring(*open->job) : std::wstring()));
  }
  if (!handles_.erase(handle)) {
    ++invalidCloses_;
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL SimSpooler::OnXcvData(HANDLE handle, PCWSTR command, const BYTE* input, DWORD inputSize, BYTE*,
                         DWORD outputSize, DWORD* needed, DWORD* status) {
  const std::wstring account = SimTerminalServer::Instance().CallingAccount();
  Guard guard(lock_);
  const OpenHandle* open = FindHandle(handle);
  if (!open || !open->xcv) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::wstring name = Text(command);
  xcvCalls_.push_back({name, std::vector<uint8_t>(input, input + (input ? inputSize : 0)), outputSize,
                       open->access, account});
  if (auto error = xcvCallError_.find(name); error != xcvCallError_.end()) {
    SetLastError(error->second);
    return FALSE;
  }
  if (needed) *needed = 0;
  auto refusal = xcvStatus_.find(name);
  const DWORD result = refusal != xcvStatus_.end() ? refusal->second : RunMonitorCommand(name, input, inputSize);
  if (status) *status = result;
  return TRUE;
}

// The monitor stand-in: a table of ports with their settings.
DWORD SimSpooler::RunMonitorCommand(const std::wstring& command, const BYTE* input, DWORD inputSize) {
  if (command == L"AddPort" || command == L"RemovePort") {
    const std::wstring port = PortNameInput(input, inputSize);
    journal_.push_back(command + L" " + port);
    if (command == L"AddPort") return ports_.emplace(port, std::nullopt).second ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    return ports_.erase(port) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  }
  if (command == L"PortSettings") {
    const auto settings = quil::ParsePortSettingsBlock({input, input ? inputSize : 0});
    journal_.push_back(L"PortSettings " + (settings ? Wide(settings->portName) : L"?"));
    if (!settings) return ERROR_INVALID_PARAMETER;
    auto port = ports_.find(Wide(settings->portName));
    if (port == ports_.end()) return ERROR_INVALID_PARAMETER;
    port->second = settings;
    return ERROR_SUCCESS;
  }
  return ERROR_INVALID_PARAMETER;
}

HANDLE SimSpooler::OnAddPrinter(LPWSTR server, DWORD level, const BYTE* info) {
  const std::wstring account = SimTerminalServer::Instance().CallingAccount();
  Guard guard(lock_);
  const auto* printer = reinterpret_cast<const PRINTER_INFO_2W*>(info);
  if (server || level != 2 || !printer || !printer->pPrinterName || !printer->pPortName || !printer->pDriverName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (Find(printer->pPrinterName)) {
    SetLastError(ERROR_PRINTER_ALREADY_EXISTS);
    return nullptr;
  }
  SimPrinter added{printer->pPrinterName, printer->pPortName, printer->pDriverName, Text(printer->pPrintProcessor),
                   OtherMembersEmpty(*printer), {}, account, 0, L""};
  if (printer->pSecurityDescriptor) added.securityDescriptor = SelfRelativeCopy(printer->pSecurityDescriptor);
  journal_.push_back(L"AddPrinter " + added.name);
  printers_.push_back(std::move(added));
  return NewHandle({false, printer->pPrinterName, PRINTER_ALL_ACCESS, std::nullopt});
}

BOOL SimSpooler::OnSetPrinter(HANDLE handle, DWORD level, const BYTE* info, DWORD command) {
  Guard guard(lock_);
  const OpenHandle* open = FindHandle(handle);
  SimPrinter* printer = open && !open->xcv ? Find(open->printer) : nullptr;
  if (!printer) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (level != 0 || info || command != PRINTER_CONTROL_PURGE) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  if (!(open->access & PRINTER_ACCESS_ADMINISTER)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  ++printer->purges;
  journal_.push_back(L"Purge " + printer->name);
  return TRUE;
}

BOOL SimSpooler::OnDeletePrinter(HANDLE handle) {
  Guard guard(lock_);
  const OpenHandle* open = FindHandle(handle);
  SimPrinter* printer = open && !open->xcv ? Find(open->printer) : nullptr;
  if (!printer) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!(open->access & DELETE)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (auto error = deleteError_.find(printer->name); error != deleteError_.end()) {
    SetLastError(error->second);
    return FALSE;
  }
  const std::wstring name = printer->name;
  journal_.push_back(L"DeletePrinter " + name);
  printers_.erase(printers_.begin() + (printer - printers_.data()));
  // A deleted printer is nobody's default any more.
  std::erase_if(defaults_, [&name](const auto& entry) { return _wcsicmp(entry.second.c_str(), name.c_str()) == 0; });
  return TRUE;
}

BOOL SimSpooler::OnGetDefaultPrinter(LPWSTR buffer, DWORD* size) {
  const std::wstring account = SimTerminalServer::Instance().CallingAccount();
  Guard guard(lock_);
  if (!size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto found = defaults_.find(account);
  if (found == defaults_.end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const DWORD needed = static_cast<DWORD>(found->second.size() + 1);
  if (!buffer || *size < needed) {
    *size = needed;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, found->second.c_str(), needed * sizeof(wchar_t));
  *size = needed;
  return TRUE;
}

// An empty name keeps the current default, or picks the first printer when there is none.
BOOL SimSpooler::OnSetDefaultPrinter(LPCWSTR name) {
  const std::wstring account = SimTerminalServer::Instance().CallingAccount();
  Guard guard(lock_);
  std::wstring printer = Text(name);
  if (printer.empty()) {
    if (defaults_.count(account) || printers_.empty()) return TRUE;
    printer = printers_.front().name;
  } else if (!Find(printer)) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  journal_.push_back(L"SetDefault " + account + L": " + printer);
  defaults_[account] = printer;
  return TRUE;
}

void SimSpoolBytes::CopyAt(uint64_t offset, uint8_t* buffer, size_t size) const {
  std::memcpy(buffer, bytes_.data() + offset, size);
}

namespace {

void PutU32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> 8 * i));
}

}  // namespace

SimRepeatedPages::SimRepeatedPages(std::vector<uint8_t> metafile, uint32_t count) : count_(count) {
  for (uint32_t value : {0x10000u, 16u, 0u, 0u, 12u, static_cast<uint32_t>(metafile.size())}) PutU32(prefix_, value);
  record_ = std::move(metafile);
  const auto size = static_cast<uint32_t>(record_.size());
  PutU32(record_, 12);
  PutU32(record_, size);
}

// The last record's trailing head is cut off, so the data ends after the last page.
uint64_t SimRepeatedPages::Size() const { return prefix_.size() + uint64_t{count_} * record_.size() - 8; }

void SimRepeatedPages::CopyAt(uint64_t offset, uint8_t* buffer, size_t size) const {
  while (size > 0) {
    const uint8_t* from = nullptr;
    size_t available = 0;
    if (offset < prefix_.size()) {
      from = prefix_.data() + offset;
      available = prefix_.size() - static_cast<size_t>(offset);
    } else {
      const size_t inRecord = static_cast<size_t>((offset - prefix_.size()) % record_.size());
      from = record_.data() + inRecord;
      available = record_.size() - inRecord;
    }
    const size_t length = std::min(size, available);
    std::memcpy(buffer, from, length);
    buffer += length;
    offset += length;
    size -= length;
  }
}

// Waits, without holding the spooler's lock, while the spooler is held and, for an enumeration
// that asks print servers, while they do not answer.
void SimSpooler::WaitForEnumeration(bool asksPrintServers) {
  const HANDLE conditions[] = {enumerationsReleased_.get(), printServersAnswer_.get()};
  const DWORD count = asksPrintServers ? 2 : 1;
  if (WaitForMultipleObjects(count, conditions, TRUE, 0) < WAIT_OBJECT_0 + count) return;
  {
    Guard guard(lock_);
    ++waitingEnumerations_;
  }
  WaitForMultipleObjects(count, conditions, TRUE, INFINITE);
  Guard guard(lock_);
  --waitingEnumerations_;
}

// Local printers the calling identity may enumerate (the process's own identity sees all of
// them), then the calling account's connections.
std::vector<SimSpooler::ListedPrinter> SimSpooler::Listed(DWORD flags, const std::wstring& account,
                                                          const std::optional<std::vector<uint8_t>>& caller) {
  std::vector<ListedPrinter> listed;
  for (const auto& printer : printers_) {
    const bool listedFor = account.empty() || printer.onlyFor.empty() || printer.onlyFor == account;
    if ((flags & PRINTER_ENUM_LOCAL) && listedFor &&
        (Granted(printer, caller) & (PRINTER_ACCESS_USE | PRINTER_ACCESS_ADMINISTER))) {
      listed.push_back({printer.name, printer.port, L"", printer.driver});
    }
  }
  for (const auto& connection : connections_) {
    if ((flags & PRINTER_ENUM_CONNECTIONS) && connection.account == account) {
      listed.push_back({connection.name, connection.port, ServerOf(connection.name), L""});
    }
  }
  return listed;
}

BOOL SimSpooler::OnEnumPrinters(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, DWORD* needed,
                                DWORD* returned) {
  const std::wstring account = SimTerminalServer::Instance().CallingAccount();
  const auto caller = SimTerminalServer::Instance().CallingSid();
  bool asksPrintServers = false;
  {
    Guard guard(lock_);
    jobJournal_.push_back(L"EnumPrinters " + account);
    constexpr DWORD kSimulatedFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
    if (name || !(flags & kSimulatedFlags) || (flags & ~kSimulatedFlags) || !needed || !returned) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    if (level != 2 && level != 5) {
      SetLastError(ERROR_INVALID_LEVEL);
      return FALSE;
    }
    const auto accounts = [&account](const Connection& connection) { return connection.account == account; };
    asksPrintServers =
        (flags & PRINTER_ENUM_CONNECTIONS) && std::any_of(connections_.begin(), connections_.end(), accounts);
  }
  WaitForEnumeration(asksPrintServers);
  Guard guard(lock_);
  const std::vector<ListedPrinter> listed = Listed(flags, account, caller);
  DWORD total = 0;
  for (const auto& printer : listed) total += ListedBytes(level, printer);
  *needed = total;
  *returned = 0;
  if (!buffer || size < total) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  StringPacker strings(buffer + size);
  for (const auto& printer : listed) {
    FillEntry(level, buffer + EntrySize(level) * (*returned)++, printer, strings);
  }
  return TRUE;
}

BOOL SimSpooler::OnEnumPorts(LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, DWORD* needed, DWORD* returned) {
  Guard guard(lock_);
  if (name || !needed || !returned) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  DWORD total = 0;
  for (const auto& [port, settings] : ports_) total += sizeof(PORT_INFO_1W) + (port.size() + 1) * sizeof(wchar_t);
  *needed = total;
  *returned = 0;
  if (!buffer || size < total) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* entries = reinterpret_cast<PORT_INFO_1W*>(buffer);
  BYTE* strings = buffer + size;
  for (const auto& [port, settings] : ports_) {
    strings -= (port.size() + 1) * sizeof(wchar_t);
    std::memcpy(strings, port.c_str(), (port.size() + 1) * sizeof(wchar_t));
    entries[(*returned)++].pName = reinterpret_cast<LPWSTR>(strings);
  }
  return TRUE;
}

// JOB_INFO_2W, then the DEVMODEW and the document name, all inside the caller's buffer.
BOOL SimSpooler::OnGetJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, DWORD* needed) {
  Guard guard(lock_);
  jobJournal_.push_back(L"GetJob " + std::to_wstring(jobId) + L" " + std::to_wstring(buffer ? size : 0));
  const OpenHandle* open = FindHandle(handle);
  auto found = jobs_.find(jobId);
  if (!open || open->xcv || open->job || found == jobs_.end() || level != 2 || !needed) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const SimJob& job = found->second.job;
  if (job.getJobError) {
    SetLastError(job.getJobError);
    return FALSE;
  }
  const size_t devModeSize = job.devMode ? job.devMode->size() : 0;
  const size_t nameSize = (job.documentName.size() + 1) * sizeof(wchar_t);
  *needed = static_cast<DWORD>(sizeof(JOB_INFO_2W) + devModeSize + nameSize);
  if (!buffer || size < *needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* info = reinterpret_cast<JOB_INFO_2W*>(buffer);
  *info = {};
  info->JobId = jobId;
  BYTE* end = buffer + *needed;
  if (job.devMode) {
    end -= devModeSize;
    std::memcpy(end, job.devMode->data(), devModeSize);
    info->pDevMode = reinterpret_cast<LPDEVMODEW>(end);
  }
  end -= nameSize;
  std::memcpy(end, job.documentName.c_str(), nameSize);
  info->pDocument = reinterpret_cast<LPWSTR>(end);
  return TRUE;
}

BOOL SimSpooler::OnReadPrinter(HANDLE handle, LPVOID buffer, DWORD size, DWORD* read) {
  Guard guard(lock_);
  const OpenHandle* open = FindHandle(handle);
  auto found = open && open->job ? jobs_.find(*open->job) : jobs_.end();
  if (found == jobs_.end() || !read) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  HostedJob& hosted = found->second;
  *read = 0;
  if (hosted.job.failReadsAt && hosted.position >= *hosted.job.failReadsAt) {
    SetLastError(ERROR_READ_FAULT);
    return FALSE;
  }
  const uint64_t total = hosted.job.data ? hosted.job.data->Size() : 0;
  uint64_t length = std::min<uint64_t>(size, total - hosted.position);
  if (!hosted.job.pieces.empty()) {
    length = std::min<uint64_t>(length, hosted.job.pieces[hosted.nextPiece++ % hosted.job.pieces.size()]);
  }
  if (hosted.job.failReadsAt) length = std::min<uint64_t>(length, *hosted.job.failReadsAt - hosted.position);
  if (length) hosted.job.data->CopyAt(hosted.position, static_cast<uint8_t*>(buffer), static_cast<size_t>(length));
  hosted.position += length;
  *read = static_cast<DWORD>(length);
  return TRUE;
}

BOOL SimSpooler::OnSetJob(HANDLE handle, DWORD jobId, DWORD level, LPBYTE info, DWORD command) {
  Guard guard(lock_);
  jobJournal_.push_back(L"SetJob " + std::to_wstring(jobId) + L" " + std::to_wstring(command));
  const OpenHandle* open = FindHandle(handle);
  if (!open || open->xcv || open->job || !jobs_.count(jobId)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  setJobCalls_.push_back({jobId, level, info != nullptr, command});
  return TRUE;
}

BOOL SimSpooler::OnDeletePrinterDriver(LPWSTR server, LPWSTR environment, LPWSTR driver) {
  {
    Guard guard(lock_);
    const auto inUse = [driver](const SimPrinter& printer) { return driver && printer.driver == driver; };
    if (std::any_of(printers_.begin(), printers_.end(), inUse)) {
      SetLastError(ERROR_PRINTER_DRIVER_IN_USE);
      return FALSE;
    }
  }
  using DeleteDriver = BOOL(WINAPI*)(LPWSTR, LPWSTR, LPWSTR);
  const auto wineDeleteDriver = reinterpret_cast<DeleteDriver>(
      reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"winspool.drv"), "DeletePrinterDriverW")));
  return wineDeleteDriver ? wineDeleteDriver(server, environment, driver) : FALSE;
}

}  // namespace sim

// The spooler calls of this executable (winspool's are not imported through slots, so these
// definitions replace them at link time).
extern "C" {

WINBOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW defaults) {
  return sim::SimSpooler::Instance().OnOpenPrinter(name, handle, defaults);
}

WINBOOL WINAPI ClosePrinter(HANDLE handle) { return sim::SimSpooler::Instance().OnClosePrinter(handle); }

WINBOOL WINAPI XcvDataW(HANDLE handle, PCWSTR command, PBYTE input, DWORD inputSize, PBYTE output, DWORD outputSize,
                        PDWORD needed, PDWORD status) {
  return sim::SimSpooler::Instance().OnXcvData(handle, command, input, inputSize, output, outputSize, needed, status);
}

HANDLE WINAPI AddPrinterW(LPWSTR server, DWORD level, LPBYTE info) {
  return sim::SimSpooler::Instance().OnAddPrinter(server, level, info);
}

WINBOOL WINAPI SetPrinterW(HANDLE handle, DWORD level, LPBYTE info, DWORD command) {
  return sim::SimSpooler::Instance().OnSetPrinter(handle, level, info, command);
}

WINBOOL WINAPI DeletePrinter(HANDLE handle) { return sim::SimSpooler::Instance().OnDeletePrinter(handle); }

WINBOOL WINAPI GetDefaultPrinterW(LPWSTR buffer, LPDWORD size) {
  return sim::SimSpooler::Instance().OnGetDefaultPrinter(buffer, size);
}

WINBOOL WINAPI SetDefaultPrinterW(LPCWSTR name) { return sim::SimSpooler::Instance().OnSetDefaultPrinter(name); }

WINBOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed,
                             LPDWORD returned) {
  return sim::SimSpooler::Instance().OnEnumPrinters(flags, name, level, buffer, size, needed, returned);
}

WINBOOL WINAPI EnumPortsW(LPWSTR name, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD returned) {
  return sim::SimSpooler::Instance().OnEnumPorts(name, level, buffer, size, needed, returned);
}

WINBOOL WINAPI GetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE buffer, DWORD size, LPDWORD needed) {
  return sim::SimSpooler::Instance().OnGetJob(printer, jobId, level, buffer, size, needed);
}

WINBOOL WINAPI ReadPrinter(HANDLE printer, LPVOID buffer, DWORD size, LPDWORD read) {
  return sim::SimSpooler::Instance().OnReadPrinter(printer, buffer, size, read);
}

WINBOOL WINAPI SetJobW(HANDLE printer, DWORD jobId, DWORD level, LPBYTE info, DWORD command) {
  return sim::SimSpooler::Instance().OnSetJob(printer, jobId, level, info, command);
}

WINBOOL WINAPI DeletePrinterDriverW(LPWSTR server, LPWSTR environment, LPWSTR driver) {
  return sim::SimSpooler::Instance().OnDeletePrinterDriver(server, environment, driver);
}

}  // extern "C"
