#include <windows.h>

#include "MonitorState.h"

// Module entry: remembers the module for "MonitorUI"; the monitor's lock and port table live with
// the module (created when it is attached, destroyed when it is detached).
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(module);
    quil::SetMonitorModule(module);
  }
  return TRUE;
}
