#include "NotifyStandIn.h"

namespace {
StandInObserver g_observer = nullptr;

void Report(StandInEntry entry, DWORD sessionId, HANDLE token) {
  if (g_observer) g_observer(entry, sessionId, token);
}
}  // namespace

// Unloading by FreeLibrary is reported; at process exit the observer may be gone already.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID processEnds) {
  if (reason == DLL_PROCESS_DETACH && !processEnds) Report(StandInEntry::Unload, 0, nullptr);
  return TRUE;
}

extern "C" {

void WINAPI StandInSetObserver(StandInObserver observer) { g_observer = observer; }

#ifndef STANDIN_WITHOUT_LOGON
int WINAPI QuilEventLogon(DWORD sessionId, HANDLE token) {
  Report(StandInEntry::Logon, sessionId, token);
  return 1;
}

void WINAPI QuilRemoveOrphanedPrinters() { Report(StandInEntry::RemoveOrphans, 0, nullptr); }
#endif

void WINAPI QuilEventLogoff(DWORD sessionId, HANDLE token) { Report(StandInEntry::Logoff, sessionId, token); }

}  // extern "C"
