// Whether a port's session still belongs to the port's user. After the service restarts
// abnormally a leftover port may name a session that another user has logged on to since: the
// port user's documents must not come out at that user's desk.
#pragma once

#include "MonitorState.h"

namespace quil {

// True when the user now logged on to the port's session has the user name of the port's
// settings (compared ignoring case, as Windows compares account names). A port without a user,
// a session without one and a session that cannot be queried give false. Logs why it refuses.
bool SessionBelongsToPortUser(const PortRecord& record);

}  // namespace quil
