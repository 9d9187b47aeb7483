// The server host's module, loaded as wtsapi32.dll by QuillonService.exe at its start. Besides
// the terminal-services calls it holds the simulated spooler (reached through winspool.drv's
// forwarders), so that both share one set of simulated sessions. At its attach it pins itself,
// captures the service's control handler and starts the listeners' thread, which runs once the
// loader has finished.
#include <windows.h>

#include "HostServer.h"
#include "ServiceEvents.h"

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  DisableThreadLibraryCalls(module);
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&DllMain), &pinned);
  sim::host::CaptureServiceHandler();
  sim::host::HostServer::Start();
  return TRUE;
}
