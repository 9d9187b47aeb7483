#include "MonitorState.h"

#include <algorithm>

namespace quil {
namespace {

// Constructed when the module is attached to the process and destroyed when it is detached; one
// translation unit, so the lock exists before the table and outlives it.
CriticalSection monitorLock;
PortTable portTable;
HMODULE monitorModule = nullptr;

}  // namespace

PortTable& PortTable::Instance() { return portTable; }

PortRecord* PortTable::Find(const std::wstring& portName) {
  auto found = std::find_if(records_.begin(), records_.end(),
                            [&portName](const PortRecord& record) { return record.portName == portName; });
  return found == records_.end() ? nullptr : &*found;
}

void PortTable::Add(const std::wstring& portName) { records_.push_back({portName, L"", L"", 0}); }

bool PortTable::Remove(const std::wstring& portName) {
  auto found = std::find_if(records_.begin(), records_.end(),
                            [&portName](const PortRecord& record) { return record.portName == portName; });
  if (found == records_.end()) return false;
  records_.erase(found);
  return true;
}

CriticalSection& MonitorLock() { return monitorLock; }

HMODULE MonitorModule() { return monitorModule; }
void SetMonitorModule(HMODULE module) { monitorModule = module; }

}  // namespace quil
