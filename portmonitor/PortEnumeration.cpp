// QPEnumPorts: the ports of the table that the caller may see, at level 1 or 2, with the strings
// packed from the end of the caller's buffer downwards.
#include <windows.h>

#include <winspool.h>

#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "MonitorEntryPoints.h"
#include "MonitorState.h"
#include "QuilLog.h"
#include "UniqueHandle.h"

namespace quil {
namespace {

DWORD StringBytes(const std::wstring& text) { return static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)); }

// The per-user filter. A caller that is not impersonating anybody (the spooler itself) sees every
// port; an impersonated user sees a port only if it is the whole port field of a printer that the
// user can enumerate; a caller whose identity cannot be told sees none.
//
// Session printers are local printers of this server, so only local printers are listed, at the
// lightest level that names their ports: listing connections would wait for their print servers.
class PortVisibility {
 public:
  PortVisibility() {
    UniqueHandle token;
    const bool impersonating = OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, token.put());
    if (!impersonating && GetLastError() == ERROR_NO_TOKEN) return;
    filtered_ = true;
    if (impersonating) {
      LoadUsersPrinterPorts();
      return;
    }
    const DWORD error = GetLastError();
    Log(L"OpenThreadToken failed: no session port is listed");
    LogErrorText(error);
  }

  bool IsPortVisible(const std::wstring& portName) const {
    if (!filtered_) return true;
    for (const auto& port : printerPorts_) {
      if (port == portName) return true;
    }
    return false;
  }

 private:
  void LoadUsersPrinterPorts() {
    DWORD needed = 0;
    DWORD returned = 0;
    if (EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &returned) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      return;
    }
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[needed]);
    if (!buffer || !EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 5, buffer.get(), needed, &needed, &returned)) return;
    if (static_cast<uint64_t>(returned) * sizeof(PRINTER_INFO_5W) > needed) return;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.get());
    for (DWORD i = 0; i < returned; ++i) {
      if (printers[i].pPortName) printerPorts_.emplace_back(printers[i].pPortName);
    }
  }

  bool filtered_ = false;
  std::vector<std::wstring> printerPorts_;
};

// Writes the entries from the buffer's start and their strings from its end downwards.
class PortInfoPacker {
 public:
  PortInfoPacker(LPBYTE buffer, DWORD size) : buffer_(buffer), stringsEnd_(buffer + size) {}

  wchar_t* PackString(const std::wstring& text) {
    stringsEnd_ -= StringBytes(text);
    std::memcpy(stringsEnd_, text.c_str(), StringBytes(text));
    return reinterpret_cast<wchar_t*>(stringsEnd_);
  }

  template <typename Info>
  Info* Entry(DWORD index) {
    return reinterpret_cast<Info*>(buffer_) + index;
  }

 private:
  LPBYTE buffer_;
  LPBYTE stringsEnd_;
};

DWORD BytesNeeded(DWORD level, const std::vector<const PortRecord*>& ports) {
  const DWORD entrySize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
  DWORD needed = 0;
  for (const PortRecord* port : ports) needed += entrySize + StringBytes(port->portName);
  if (level == 2 && !ports.empty()) needed += 2 * StringBytes(kMonitorName);
  return needed;
}

void Fill(DWORD level, const std::vector<const PortRecord*>& ports, LPBYTE buffer, DWORD size) {
  PortInfoPacker packer(buffer, size);
  wchar_t* monitorName = nullptr;
  wchar_t* description = nullptr;
  for (DWORD i = 0; i < ports.size(); ++i) {
    if (level == 1) {
      packer.Entry<PORT_INFO_1W>(i)->pName = packer.PackString(ports[i]->portName);
      continue;
    }
    PORT_INFO_2W* entry = packer.Entry<PORT_INFO_2W>(i);
    *entry = {};
    entry->pPortName = packer.PackString(ports[i]->portName);
    if (!monitorName) {
      monitorName = packer.PackString(kMonitorName);
      description = packer.PackString(kMonitorName);
    }
    entry->pMonitorName = monitorName;
    entry->pDescription = description;
    entry->fPortType = PORT_TYPE_WRITE;
    entry->Reserved = 0;
  }
}

}  // namespace

BOOL WINAPI QPEnumPorts(HANDLE monitor, LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                        LPDWORD returned) {
  try {
    Log(L"QPEnumPorts");
    if (!monitor) {
      SetLastError(ERROR_INVALID_NAME);
      return FALSE;
    }
    if (!needed || !returned) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    *needed = 0;
    *returned = 0;
    if (level != 1 && level != 2) {
      SetLastError(ERROR_INVALID_LEVEL);
      return FALSE;
    }
    // Asked before the lock is taken: the spooler may be slow to answer, and the port commands
    // of every logon and logoff wait for the lock.
    const PortVisibility visibility;
    ScopedLock lock(MonitorLock());
    std::vector<const PortRecord*> visible;
    for (const PortRecord& record : PortTable::Instance().Records()) {
      if (visibility.IsPortVisible(record.portName)) visible.push_back(&record);
    }
    *needed = BytesNeeded(level, visible);
    if (size < *needed || (*needed && !ports)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    Fill(level, visible, ports, size);
    *returned = static_cast<DWORD>(visible.size());
    return TRUE;
  } catch (...) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}

}  // namespace quil
