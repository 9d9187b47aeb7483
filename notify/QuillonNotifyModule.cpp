#include <windows.h>

#include "NotifyModule.h"

// Module entry: records where the library lives; it needs no per-thread notifications.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(module);
    quil::RecordModule(module);
  }
  return TRUE;
}
