#include "HostCommands.h"

#include <tlhelp32.h>
#include <winspool.h>
#include <winternl.h>
#include <wtsapi32.h>

#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "HostJobs.h"
#include "HostMonitor.h"
#include "HostSessions.h"
#include "HostText.h"
#include "ServiceEvents.h"
#include "SimSpooler.h"
#include "SimTerminalServer.h"
#include "SimVirtualChannels.h"
#include "UniqueHandle.h"

namespace sim::host {
namespace {

constexpr DWORD kClientWaitMs = 10000;
constexpr DWORD kPrinterWaitMs = 30000;
constexpr DWORD kPollMs = 50;

struct Request {
  std::string command;
  std::string rest;  // after the command and the blanks that follow it
  HostLinks& links;
  const LineWriter& write;
};

std::vector<std::string> Words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> words;
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

bool ParseNumber(const std::string& text, DWORD& value) {
  char* end = nullptr;
  value = strtoul(text.c_str(), &end, 10);
  return !text.empty() && *end == '\0';
}

// Polls until the condition holds, at most `timeoutMs`.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  for (const ULONGLONG deadline = GetTickCount64() + timeoutMs; !condition(); Sleep(kPollMs)) {
    if (GetTickCount64() >= deadline) return false;
  }
  return true;
}

size_t PrintersOfSession(DWORD sessionId) {
  size_t count = 0;
  for (const SimPrinter& printer : SimSpooler::Instance().Printers()) {
    if (HostSessions::Instance().SessionOfPrinter(printer) == sessionId) ++count;
  }
  return count;
}

std::string AddSession(const Request& request) {
  const auto words = Words(request.rest);
  DWORD id = 0;
  if (words.size() < 2 || words.size() > 3 || !ParseNumber(words[0], id)) return "error usage: session <id> <user> [<domain>]";
  const std::wstring domain = words.size() == 3 ? FromUtf8(words[2]) : L"";
  return HostSessions::Instance().Add(id, FromUtf8(words[1]), domain) ? "ok" : "error session " + words[0] + " exists";
}

std::string RaiseEvent(const Request& request) {
  static const std::map<std::string, DWORD> kEvents = {{"logon", WTS_SESSION_LOGON},
                                                        {"logoff", WTS_SESSION_LOGOFF},
                                                        {"disconnect", WTS_REMOTE_DISCONNECT},
                                                        {"connect", WTS_REMOTE_CONNECT}};
  DWORD id = 0;
  if (!ParseNumber(request.rest, id)) return "error usage: " + request.command + " <id>";
  if (!RaiseSessionChange(kEvents.at(request.command), id)) return "error the service has no control handler yet";
  return "ok";
}

std::string WaitClient(const Request& request) {
  DWORD id = 0;
  if (!ParseNumber(request.rest, id)) return "error usage: wait-client <id>";
  return WaitFor([&] { return request.links.HasClient(id); }, kClientWaitMs) ? "ok" : "error no client";
}

std::string ListClients(const Request& request) {
  for (const DWORD session : request.links.Clients()) request.write("client " + std::to_string(session));
  return "ok";
}

std::string LinkFigures(const Request& request) {
  DWORD id = 0;
  if (!ParseNumber(request.rest, id)) return "error usage: link <id>";
  const auto link = request.links.Figures(id);
  if (!link) return "error no client";
  return "ok profile " + (link->profile.empty() ? std::string("none") : link->profile) + " rate " +
         std::to_string(link->shape.bytesPerSecond) + " delay " + std::to_string(link->shape.delayMs) + " to-client " +
         std::to_string(link->toClient) + " from-client " + std::to_string(link->fromClient);
}

std::string WaitPrinters(const Request& request) {
  const auto words = Words(request.rest);
  DWORD id = 0;
  DWORD count = 0;
  if (words.size() != 2 || !ParseNumber(words[0], id) || !ParseNumber(words[1], count)) {
    return "error usage: wait-printers <id> <count>";
  }
  if (WaitFor([&] { return PrintersOfSession(id) == count; }, kPrinterWaitMs)) return "ok";
  return "error the session has " + std::to_string(PrintersOfSession(id)) + " printers";
}

std::string WaitEnumerations(const Request& request) {
  DWORD count = 0;
  if (!ParseNumber(request.rest, count)) return "error usage: wait-enumerations <count>";
  const auto reached = [&] { return SimTerminalServer::Instance().Enumerations() >= count; };
  if (WaitFor(reached, kPrinterWaitMs)) return "ok";
  return "error the sessions were listed " + std::to_string(SimTerminalServer::Instance().Enumerations()) + " times";
}

std::string ListPrinters(const Request& request) {
  for (const SimPrinter& printer : SimSpooler::Instance().Printers()) {
    const auto session = HostSessions::Instance().SessionOfPrinter(printer);
    const std::wstring account = session ? HostSessions::Instance().AccountOf(*session) : L"";
    request.write("printer " + ToUtf8(printer.name) + "|" + ToUtf8(printer.port) + "|" + ToUtf8(account));
  }
  return "ok";
}

std::string SetDefault(const Request& request) {
  const size_t blank = request.rest.find(' ');
  const size_t printerStart = request.rest.find_first_not_of(' ', blank);
  if (blank == std::string::npos || printerStart == std::string::npos) {
    return "error usage: setdefault <account> <printer>";
  }
  const std::wstring account = FromUtf8(request.rest.substr(0, blank));
  const std::wstring printer = FromUtf8(request.rest.substr(printerStart));
  if (!SimSpooler::Instance().Printer(printer)) SimSpooler::Instance().AddExistingPrinter(printer);
  SimSpooler::Instance().SetDefaultPrinterOf(account, printer);
  return "ok";
}

std::string Default(const Request& request) {
  const auto printer = SimSpooler::Instance().DefaultPrinterOf(FromUtf8(request.rest));
  return "ok " + ToUtf8(printer.value_or(L""));
}

// A job is printed by whoever opens the printer: an identity the printer's descriptor does not
// admit is refused before anything is spooled.
std::string PrintFile(const Request& request) {
  const size_t first = request.rest.find('|');
  const size_t second = first == std::string::npos ? first : request.rest.find('|', first + 1);
  if (second == std::string::npos) return "error usage: print <printer>|<document>|<path>";
  const PrintRequest print{FromUtf8(request.rest.substr(0, first)),
                           FromUtf8(request.rest.substr(first + 1, second - first - 1)),
                           FromUtf8(request.rest.substr(second + 1))};
  HANDLE printer = nullptr;
  if (!SimSpooler::Instance().OnOpenPrinter(const_cast<LPWSTR>(print.printer.c_str()), &printer, nullptr)) {
    return "error cannot open the printer (" + std::to_string(GetLastError()) + ")";
  }
  SimSpooler::Instance().OnClosePrinter(printer);
  return Print(
      print, [&request](DWORD page) { request.write("sent " + std::to_string(page)); },
      [&request](const std::string& line) { request.write(line); });
}

// The printers the calling identity may enumerate, through the spooler's own call.
std::string EnumeratePrinters(const Request& request) {
  SimSpooler& spooler = SimSpooler::Instance();
  DWORD needed = 0;
  DWORD returned = 0;
  spooler.OnEnumPrinters(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned);
  std::vector<BYTE> buffer(needed);
  if (!spooler.OnEnumPrinters(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &returned)) {
    return "error cannot enumerate printers (" + std::to_string(GetLastError()) + ")";
  }
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < returned; ++i) request.write("printer " + ToUtf8(printers[i].pPrinterName));
  return "ok";
}

std::string ListPorts(const Request& request) {
  const auto ports = HostMonitor::Instance().Ports();
  if (!ports) return "error the monitor cannot enumerate its ports (" + std::to_string(GetLastError()) + ")";
  for (const std::wstring& port : *ports) request.write("port " + ToUtf8(port));
  return "ok";
}

std::string Channels(const Request&) {
  SimVirtualChannels& channels = SimVirtualChannels::Instance();
  return "ok open " + std::to_string(channels.OpenChannels()) + " blocked " + std::to_string(channels.BlockedReads()) +
         " misused " + std::to_string(channels.Misuses().size());
}

// The system's handle list (its information class 16), as far as the entries are read here.
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT value;
  PVOID object;
  ULONG access;
};
struct SystemHandleList {
  ULONG count;
  SystemHandleEntry entries[1];
};
constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

// The name of a handle's object type ("Event", "Semaphore", ...); empty if it cannot be read.
std::string TypeName(HANDLE handle) {
  constexpr auto kObjectTypeInformation = static_cast<OBJECT_INFORMATION_CLASS>(2);
  alignas(8) BYTE info[1024] = {};
  ULONG length = 0;
  if (NtQueryObject(handle, kObjectTypeInformation, info, sizeof(info), &length) < 0) return "";
  const auto* name = reinterpret_cast<const UNICODE_STRING*>(info);
  return name->Buffer ? ToUtf8(std::wstring(name->Buffer, name->Length / sizeof(wchar_t))) : "";
}

// The handles of this process in the system's handle list (Wine's GetProcessHandleCount reports 0),
// by the name of their object type.
std::optional<std::map<std::string, size_t>> OwnHandlesByType() {
  for (ULONG size = 64 * 1024; size <= 64 * 1024 * 1024; size *= 2) {
    std::unique_ptr<SystemHandleEntry[]> buffer(new SystemHandleEntry[size / sizeof(SystemHandleEntry)]);
    ULONG needed = 0;
    const NTSTATUS status = NtQuerySystemInformation(kSystemHandleInformation, buffer.get(), size, &needed);
    if (status == kInfoLengthMismatch) continue;
    if (status < 0) return std::nullopt;
    const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.get());
    std::map<std::string, size_t> own;
    for (ULONG i = 0; i < list->count; ++i) {
      if (list->entries[i].ownerPid != GetCurrentProcessId()) continue;
      ++own[TypeName(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(list->entries[i].value)))];
    }
    return own;
  }
  return std::nullopt;
}

// "ok handles <n> threads <n> types <name>:<n>,...": the handles also by object
// type, so that a count that grows shows what kind of object stays behind.
std::string ProcessCounts(const Request&) {
  const auto byType = OwnHandlesByType();
  if (!byType) return "error no handle list";
  size_t handles = 0;
  std::string types;
  for (const auto& [type, count] : *byType) {
    handles += count;
    types += (types.empty() ? "" : ",") + type + ":" + std::to_string(count);
  }
  const HANDLE taken = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (taken == INVALID_HANDLE_VALUE) return "error no thread snapshot";
  const quil::UniqueHandle snapshot(taken);
  size_t threads = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
  }
  return "ok handles " + std::to_string(handles) + " threads " + std::to_string(threads) + " types " + types;
}

using Handler = std::string (*)(const Request&);
std::string RunAs(const Request& request);

const std::map<std::string, Handler>& Handlers() {
  static const std::map<std::string, Handler> handlers = {
      {"session", AddSession},         {"logon", RaiseEvent},          {"logoff", RaiseEvent},
      {"disconnect", RaiseEvent},      {"connect", RaiseEvent},        {"wait-client", WaitClient},
      {"clients", ListClients},        {"link", LinkFigures},          {"wait-printers", WaitPrinters},
      {"printers", ListPrinters},      {"setdefault", SetDefault},     {"default", Default},
      {"print", PrintFile},            {"ports", ListPorts},           {"channels", Channels},
      {"process-counts", ProcessCounts}, {"as", RunAs},                {"enum-printers", EnumeratePrinters},
      {"wait-enumerations", WaitEnumerations}};
  return handlers;
}

std::string Dispatch(const std::string& line, HostLinks& links, const LineWriter& write) {
  const size_t end = line.find(' ');
  const std::string command = line.substr(0, end);
  const size_t restStart = end == std::string::npos ? std::string::npos : line.find_first_not_of(' ', end);
  const Request request{command, restStart == std::string::npos ? "" : line.substr(restStart), links, write};
  auto handler = Handlers().find(command);
  return handler == Handlers().end() ? "error unknown request " + command : handler->second(request);
}

// Runs the request impersonating the session's user, as a program of that user would call the
// spooler, and reverts at once.
std::string RunAs(const Request& request) {
  const size_t blank = request.rest.find(' ');
  DWORD sessionId = 0;
  if (blank == std::string::npos || !ParseNumber(request.rest.substr(0, blank), sessionId)) {
    return "error usage: as <id> <request>";
  }
  quil::UniqueHandle token;
  if (!SimTerminalServer::Instance().QueryUserToken(sessionId, token.put())) return "error no user in that session";
  if (!ImpersonateLoggedOnUser(token.get())) return "error cannot act as the user (" + std::to_string(GetLastError()) + ")";
  const std::string reply = Dispatch(request.rest.substr(blank + 1), request.links, request.write);
  RevertToSelf();
  return reply;
}

}  // namespace

bool RunCommand(const std::string& line, HostLinks& links, const LineWriter& write) {
  if (line == "quit") {
    write("ok");
    return false;
  }
  write(Dispatch(line, links, write));
  return true;
}

}  // namespace sim::host
