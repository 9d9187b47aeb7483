#include "SessionPrinterInventory.h"

#include <winspool.h>

#include "Installation.h"
#include "QuilLog.h"

namespace quil {
namespace {

// The local printers at level 2, read into a buffer of the size the spooler asks for (the list can
// grow between the two calls, so it asks again then).
std::optional<std::vector<BYTE>> EnumerateLocalPrinters(DWORD& count) {
  std::vector<BYTE> buffer;
  DWORD needed = 0;
  while (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed,
                        &count)) {
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size()) {
      LogErrorText(GetLastError());
      return std::nullopt;
    }
    buffer.resize(needed);
  }
  return buffer;
}

}  // namespace

std::optional<std::vector<InstalledSessionPrinter>> InstalledSessionPrinters() {
  DWORD count = 0;
  const auto buffer = EnumerateLocalPrinters(count);
  if (!buffer) return std::nullopt;
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer->data());
  std::vector<InstalledSessionPrinter> found;
  for (DWORD i = 0; i < count; ++i) {
    const PRINTER_INFO_2W& printer = printers[i];
    if (!printer.pPrinterName || !printer.pDriverName || lstrcmpiW(printer.pDriverName, kDriverName) != 0) continue;
    found.push_back({printer.pPrinterName, printer.pPortName ? printer.pPortName : L""});
  }
  return found;
}

std::optional<bool> IsSessionPrinter(const std::wstring& printerName) {
  const auto printers = InstalledSessionPrinters();
  if (!printers) return std::nullopt;
  for (const InstalledSessionPrinter& printer : *printers) {
    if (lstrcmpiW(printer.name.c_str(), printerName.c_str()) == 0) return true;
  }
  return false;
}

}  // namespace quil
