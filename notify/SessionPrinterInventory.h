// The session printers installed in the spooler, found by their driver, as the calling identity
// sees them. Only local printers are listed, so no print server is contacted.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quil {

struct InstalledSessionPrinter {
  std::wstring name;
  std::wstring port;
};

// Every local printer on the session printers' driver; nullopt if the spooler cannot list them.
std::optional<std::vector<InstalledSessionPrinter>> InstalledSessionPrinters();

// Whether a local printer of that name (compared as the spooler does, ignoring case) is on the
// session printers' driver; nullopt when the spooler cannot list its printers.
std::optional<bool> IsSessionPrinter(const std::wstring& printerName);

}  // namespace quil
