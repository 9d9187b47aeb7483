// The add-in's entry points: module load and VirtualChannelEntry, which registers both channels.
#include <windows.h>

#include "VirtualChannelApi.h"

#include "AddinChannel.h"
#include "AddinModule.h"
#include "QuilPrintManager.h"
#include "QuilPrintersManager.h"

namespace {

HMODULE g_module = nullptr;

// The channels' handlers, one each per process.
CQuilPrintersManager g_printersManager;
CQuilPrintManager g_printManager{g_printersManager};

}  // namespace

HMODULE quil::AddinModule() { return g_module; }

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(module);
    g_module = module;
  }
  return TRUE;
}

extern "C" BOOL VCAPITYPE VirtualChannelEntry(PCHANNEL_ENTRY_POINTS entryPoints) {
  try {
    auto& registry = CAddinChannelRegistry::Instance();
    // The client enters the add-in right after loading it; the printer list is fixed from here on.
    g_printersManager.TakeSnapshot();
    return registry.CopyEntryPoints(entryPoints) && registry.Register("QPrn", &g_printersManager) &&
           registry.Register("QSpl", &g_printManager);
  } catch (...) {
    return FALSE;  // out of memory while registering
  }
}
