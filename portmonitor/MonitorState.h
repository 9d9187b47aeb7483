// The monitor's process-wide state: its table of ports, the lock that guards it, and the module
// that serves the monitor.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "CriticalSection.h"

namespace quil {

inline constexpr const wchar_t* kMonitorName = L"Quillon Port";

// One port: its name, and the session and client printer it serves once "PortSettings" came.
struct PortRecord {
  std::wstring portName;
  std::wstring clientPrinterName;
  std::wstring userName;
  DWORD sessionId = 0;
};

// The ports in the order they were added. Names are unique and compared exactly (case-sensitive).
// Read and changed only while MonitorLock() is held.
class PortTable {
 public:
  static PortTable& Instance();

  PortRecord* Find(const std::wstring& portName);
  void Add(const std::wstring& portName);
  bool Remove(const std::wstring& portName);
  const std::vector<PortRecord>& Records() const { return records_; }

 private:
  std::vector<PortRecord> records_;
};

// Held by enumeration, opening, Xcv commands and a job's whole transfer. A critical section, so
// that the thread holding it may take it again: "AddPort" asks the spooler for its ports, which
// calls back into the monitor's enumeration on the same thread.
CriticalSection& MonitorLock();

// The module that serves the monitor (null until set: the process's executable).
HMODULE MonitorModule();
void SetMonitorModule(HMODULE module);

}  // namespace quil
