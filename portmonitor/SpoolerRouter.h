// The spooler router's exports that the monitor calls: RevertToPrinterSelf,
// ImpersonatePrinterClient and EnumPortsW, each reached by loading "SPOOLSS.DLL" for the call.
#pragma once

#include <windows.h>

namespace quil {

// Switches the calling thread to the spooler's own identity for the scope's life, then back to
// the identity it had. Without the router or its exports nothing changes.
class CQuilSpoolerSelf {
 public:
  CQuilSpoolerSelf();
  ~CQuilSpoolerSelf();
  CQuilSpoolerSelf(const CQuilSpoolerSelf&) = delete;
  CQuilSpoolerSelf& operator=(const CQuilSpoolerSelf&) = delete;

 private:
  HANDLE clientToken_ = nullptr;  // handed back to ImpersonatePrinterClient, which takes it over
};

enum class SpoolerPortLookup { kUnknown, kKnown, kError };

// Whether the spooler already lists a port of that name, compared ignoring case, asked in the
// spooler's own identity. An enumeration that fails counts as known; a router that cannot be
// loaded as unknown; a router without EnumPortsW is an error.
SpoolerPortLookup PortKnownToSpooler(const wchar_t* portName);

}  // namespace quil
