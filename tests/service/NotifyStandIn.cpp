#include "NotifyStandIn.h"

namespace {
StandInObserver g_observer = nullptr;

void Report(StandInEntry entry, DWORD sessionId, HANDLE token) {
  if (g_observer) g_observer(entry, sessionId, token);
}
}  // namespace

extern "C" {

void WINAPI StandInSetObserver(StandInObserver observer) { g_observer = observer; }

#ifndef STANDIN_WITHOUT_LOGON
int WINAPI QuilEventLogon(DWORD sessionId, HANDLE token) {
  Report(StandInEntry::Logon, sessionId, token);
  return 1;
}
#endif

void WINAPI QuilEventLogoff(DWORD sessionId, HANDLE token) { Report(StandInEntry::Logoff, sessionId, token); }

}  // extern "C"
