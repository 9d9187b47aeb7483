// Account lookup for the simulated sessions' users, which Wine does not know: LookupAccountNameW
// answers from SimTerminalServer. advapi32 declares it imported, so the import slot is replaced.
#include <windows.h>

#include "SimImportSlot.h"
#include "SimTerminalServer.h"

namespace {

WINBOOL WINAPI SimLookupAccountNameW(LPCWSTR systemName, LPCWSTR accountName, PSID sid, LPDWORD sidSize,
                                     LPWSTR domain, LPDWORD domainSize, PSID_NAME_USE use) {
  if (systemName) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return FALSE;
  }
  return sim::SimTerminalServer::Instance().LookupAccount(accountName, sid, sidSize, domain, domainSize, use);
}

}  // namespace

extern "C" {
decltype(&SimLookupAccountNameW) simLookupAccountNameSlot __asm__(SIM_IMPORT_SLOT(LookupAccountNameW, 28)) =
    &SimLookupAccountNameW;
}
