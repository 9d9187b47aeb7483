// The requests of the control connection, one line each, answered with reply lines that end in a
// line "ok ..." or "error ...":
//   session <id> <user> [<domain>]     a session with a user (no event yet)
//   logon|logoff|disconnect|connect <id>
//                                      the session change, raised through the service's handler;
//                                      answered once the handler returned
//   wait-client <id>                   answered once a client computer's link serves the session
//   clients                            "client <id>" lines: the sessions that have a client's link
//   link <id>                          "ok profile <name> rate <bytes/s> delay <ms> to-client <bytes>
//                                      from-client <bytes>": the session's link, its profile ("none"
//                                      when unshaped, with rate 0) and the bytes of its frames so far
//   wait-enumerations <n>              answered once the session list was asked for n times
//   wait-printers <id> <count>         answered once the session has that many printers
//   printers                           "printer <name>|<port>|<account it is for>" lines
//   setdefault <account> <printer>     the account's default printer (added if it does not exist)
//   default <account>                  "ok <printer>" (empty if none)
//   print <printer>|<document>|<path>  a job with the spool data of that file; "sent <n>" per page
//                                      (refused when the caller may not open the printer)
//   enum-printers                      "printer <name>" lines: the printers the caller may enumerate
//   ports                              "port <name>" lines: the monitor's ports the caller may see
//   as <id> <request>                  the request run as the session's user
//   channels                           "ok open <n> blocked <n> misused <n>": the channels open in
//                                      all sessions, the reads waiting on them, and the calls with a
//                                      closed handle or closes during a call on it so far
//   process-counts                     "ok handles <n> threads <n> types
//                                      <type name>:<n>,..." of the service's process
//   quit                               ends the connection
#pragma once

#include <functional>
#include <string>

#include "HostLinks.h"

namespace sim::host {

using LineWriter = std::function<void(const std::string& line)>;

// Runs one request; false when it ends the connection.
bool RunCommand(const std::string& line, HostLinks& links, const LineWriter& write);

}  // namespace sim::host
