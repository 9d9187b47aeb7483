// The sessions' users' accounts, which Wine does not know: LookupAccountNameW answers from
// SimTerminalServer, and GetTokenInformation answers a session token's user as the session user's
// account. advapi32 declares both imported, so their import slots are replaced.
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

WINBOOL WINAPI SimGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD size,
                                      PDWORD needed) {
  return sim::SimTerminalServer::Instance().QueryTokenInformation(token, infoClass, info, size, needed);
}

}  // namespace

extern "C" {
decltype(&SimLookupAccountNameW) simLookupAccountNameSlot __asm__(SIM_IMPORT_SLOT(LookupAccountNameW, 28)) =
    &SimLookupAccountNameW;
decltype(&SimGetTokenInformation) simGetTokenInformationSlot __asm__(SIM_IMPORT_SLOT(GetTokenInformation, 20)) =
    &SimGetTokenInformation;
}
