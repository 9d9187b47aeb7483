// Session printers and ports that belong to no live session: what an earlier run of the service
// left behind when it ended abnormally (crashed, killed) while sessions lived. The port monitor
// still holds those ports and their settings, so a new session's port of the same name would be
// refused, and a leftover printer of an earlier user would stay attached to a session that another
// user may have now.
#pragma once

namespace quil {

// Removes, as the service (which sees and may delete every session printer):
// - each printer on the session printers' driver whose port names a session that is not live, or
//   that was made for another user than the live session's current one, with its port;
// - each session port ("QPRN[...]") whose session is not live.
// A live session is one the terminal server lists with a user. Nothing is removed when the
// sessions cannot be listed.
void RemoveOrphanedPrinters();

}  // namespace quil
