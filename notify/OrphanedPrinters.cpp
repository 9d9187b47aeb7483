#include "OrphanedPrinters.h"

#include <windows.h>

#include <winspool.h>
#include <wtsapi32.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CQuilPrintersManager.h"
#include "MonitorTransceive.h"
#include "QuilLog.h"
#include "SessionPrinterInventory.h"
#include "SessionPrinterNames.h"
#include "SessionText.h"
#include "UniquePrinter.h"
#include "WideText.h"
#include "WtsSessionList.h"

namespace quil {
namespace {

// Session id to its user's name, for each session with a user.
using LiveSessions = std::map<DWORD, std::wstring>;

std::optional<LiveSessions> ListLiveSessions() {
  WtsSessionList sessions;
  if (!sessions.Enumerate()) {
    LogErrorText(GetLastError());
    return std::nullopt;
  }
  LiveSessions live;
  for (const WTS_SESSION_INFOW& session : sessions) {
    const SessionText user(session.SessionId, WTSUserName);
    if (user.get() && *user.get()) live.emplace(session.SessionId, user.get());
  }
  return live;
}

std::optional<DWORD> SessionOfPort(const std::wstring& port) { return SessionOfPortName(ToU16(port)); }

bool EndsWithIgnoringCase(const std::wstring& text, const std::wstring& end) {
  return text.size() >= end.size() && lstrcmpiW(text.c_str() + (text.size() - end.size()), end.c_str()) == 0;
}

// The printer's name carries the user it was made for: " (<user> : <session>)" at its end.
bool BelongsToLiveSession(const InstalledSessionPrinter& printer, const LiveSessions& live) {
  const auto session = SessionOfPort(printer.port);
  if (!session) return false;
  const auto found = live.find(*session);
  return found != live.end() &&
         EndsWithIgnoringCase(printer.name, CQuilPrintersManager::PrinterNameSuffix(found->second, *session));
}

void RemovePrinter(const InstalledSessionPrinter& printer) {
  Log(L"Remove orphaned printer %s", printer.name.c_str());
  PRINTER_DEFAULTSW defaults{nullptr, nullptr, PRINTER_ALL_ACCESS};
  UniquePrinter handle;
  if (!OpenPrinterW(const_cast<LPWSTR>(printer.name.c_str()), handle.put(), &defaults)) {
    LogErrorText(GetLastError());
    return;
  }
  if (!SetPrinterW(handle.get(), 0, nullptr, PRINTER_CONTROL_PURGE)) LogErrorText(GetLastError());
  if (!DeletePrinter(handle.get())) {
    LogErrorText(GetLastError());
    return;
  }
  if (SessionOfPort(printer.port)) SendPortCommand(L"RemovePort", printer.port);
}

// The ports of every monitor at level 1, read into a buffer of the size the spooler asks for.
std::vector<std::wstring> ListPorts() {
  std::vector<BYTE> buffer;
  DWORD needed = 0;
  DWORD count = 0;
  while (!EnumPortsW(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
      LogErrorText(GetLastError());
      return {};
    }
    buffer.resize(needed);
  }
  const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
  std::vector<std::wstring> names;
  for (DWORD i = 0; i < count; ++i) {
    if (ports[i].pName) names.emplace_back(ports[i].pName);
  }
  return names;
}

}  // namespace

void RemoveOrphanedPrinters() {
  Log(L"Remove orphaned printers");
  const auto live = ListLiveSessions();
  if (!live) return;
  if (const auto printers = InstalledSessionPrinters()) {
    for (const InstalledSessionPrinter& printer : *printers) {
      if (!BelongsToLiveSession(printer, *live)) RemovePrinter(printer);
    }
  }
  for (const std::wstring& port : ListPorts()) {
    const auto session = SessionOfPort(port);
    if (!session || live->count(*session)) continue;
    Log(L"Remove orphaned port %s", port.c_str());
    SendPortCommand(L"RemovePort", port);
  }
}

}  // namespace quil
