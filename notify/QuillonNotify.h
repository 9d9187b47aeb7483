// The exported session entry points of QuillonNotify.dll (stdcall, exported undecorated).
#pragma once

#include <windows.h>

#include <winwlx.h>

extern "C" {

// Session logon from the service; the result has no meaning. The token is kept, never closed.
int WINAPI QuilEventLogon(DWORD sessionId, HANDLE userToken);
void WINAPI QuilEventLogoff(DWORD sessionId, HANDLE unused);
// At the service's start, before any logon: removes the session printers and ports that an
// earlier run of the service left behind for sessions that are gone.
void WINAPI QuilRemoveOrphanedPrinters();
// The same, as a Winlogon notification package: the session id comes from the user token.
void WINAPI WLEventLogon(PWLX_NOTIFICATION_INFO info);
void WINAPI WLEventLogoff(PWLX_NOTIFICATION_INFO info);

}  // extern "C"
