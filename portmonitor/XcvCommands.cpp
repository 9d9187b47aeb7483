// QPXcvDataPort: the transceive commands, dispatched by exact (case-sensitive) name. Inputs come
// from any administrator's call and are checked against their stated size before anything is read.
#include <windows.h>

#include <winspool.h>

#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "MonitorEntryPoints.h"
#include "MonitorHandles.h"
#include "MonitorState.h"
#include "PortSettingsBlock.h"
#include "QuilLog.h"
#include "SpoolerRouter.h"
#include "WideText.h"
#include "XcvPortName.h"

namespace quil {
namespace {

struct XcvRequest {
  std::span<const uint8_t> input;
  PBYTE output;
  DWORD outputSize;
  PDWORD outputNeeded;
};

std::optional<std::wstring> PortNameInput(const XcvRequest& request) {
  const auto name = ParseXcvPortName(request.input);
  if (!name) return std::nullopt;
  return ToWide(*name);
}

DWORD AddPort(const XcvRequest& request) {
  const auto name = PortNameInput(request);
  if (!name) return ERROR_INVALID_PARAMETER;
  switch (PortKnownToSpooler(name->c_str())) {
    case SpoolerPortLookup::kError:
      return ERROR_INVALID_PARAMETER;
    case SpoolerPortLookup::kKnown:
      return ERROR_ALREADY_EXISTS;
    case SpoolerPortLookup::kUnknown:
      break;
  }
  PortTable& table = PortTable::Instance();
  if (table.Find(*name)) return ERROR_INVALID_PARAMETER;
  table.Add(*name);
  return ERROR_SUCCESS;
}

DWORD RemovePort(const XcvRequest& request) {
  const auto name = PortNameInput(request);
  if (!name || !PortTable::Instance().Remove(*name)) return ERROR_INVALID_PARAMETER;
  return ERROR_SUCCESS;
}

DWORD MonitorUI(const XcvRequest& request) {
  if (!request.output) return ERROR_INSUFFICIENT_BUFFER;
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(MonitorModule(), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return ERROR_INSUFFICIENT_BUFFER;
  const DWORD needed = (length + 1) * sizeof(wchar_t);
  if (request.outputNeeded) *request.outputNeeded = needed;
  if (request.outputSize < needed) return ERROR_INSUFFICIENT_BUFFER;
  std::memcpy(request.output, path, needed);
  return ERROR_SUCCESS;
}

DWORD PortSettingsCommand(const XcvRequest& request) {
  const auto settings = ParsePortSettingsBlock(request.input);
  if (!settings) return ERROR_INVALID_PARAMETER;
  PortRecord* record = PortTable::Instance().Find(ToWide(settings->portName));
  if (!record) return ERROR_INVALID_PARAMETER;
  record->sessionId = settings->sessionId;
  record->clientPrinterName = ToWide(settings->clientPrinterName);
  record->userName = ToWide(settings->userName);
  return ERROR_SUCCESS;
}

struct XcvCommand {
  const wchar_t* name;
  bool needsAdminister;
  DWORD (*run)(const XcvRequest&);
};

constexpr XcvCommand kCommands[] = {
    {L"AddPort", true, AddPort},
    {L"RemovePort", true, RemovePort},
    {L"MonitorUI", false, MonitorUI},
    {L"PortSettings", true, PortSettingsCommand},
};

}  // namespace

DWORD WINAPI QPXcvDataPort(HANDLE xcv, LPCWSTR command, PBYTE input, DWORD inputSize, PBYTE output,
                           DWORD outputSize, PDWORD outputNeeded) {
  try {
    Log(L"QPXcvDataPort");
    const XcvHandle* handle = AsXcvHandle(xcv);
    if (!handle || !command) return ERROR_INVALID_PARAMETER;
    ScopedLock lock(MonitorLock());
    for (const XcvCommand& entry : kCommands) {
      if (std::wcscmp(entry.name, command) != 0) continue;
      if (entry.needsAdminister && !(handle->grantedAccess & SERVER_ACCESS_ADMINISTER)) return ERROR_ACCESS_DENIED;
      const XcvRequest request{input ? std::span<const uint8_t>(input, inputSize) : std::span<const uint8_t>(), output,
                               outputSize, outputNeeded};
      return entry.run(request);
    }
    return ERROR_INVALID_PARAMETER;
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace quil
