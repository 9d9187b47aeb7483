// The service's side of the host: its control handler, captured when the service registers it
// with the service control manager, and the session changes that Wine cannot send, raised through
// that handler as the manager would deliver them. Also routes the notification library's token
// queries to the simulated sessions, whose users Wine does not know.
#pragma once

#include <windows.h>

namespace sim::host {

// Patches the executable's import of RegisterServiceCtrlHandlerExW so that the handler the
// service registers is recorded; false if the executable does not import it.
bool CaptureServiceHandler();

// Patches QuillonNotify.dll's import of GetTokenInformation to answer from SimTerminalServer (a
// session token's user is the session user's account); false while the library is not loaded.
// Patching again changes nothing.
bool RouteTokenQueries();

// Calls the captured handler with SERVICE_CONTROL_SESSIONCHANGE, the event type (WTS_SESSION_LOGON,
// ...) and a WTSSESSION_NOTIFICATION for the session, one event at a time, and returns once the
// handler has returned (the service may still be working on it); false if the service has not
// registered a handler.
bool RaiseSessionChange(DWORD eventType, DWORD sessionId);

}  // namespace sim::host
