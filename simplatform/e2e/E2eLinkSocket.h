// The end-to-end run's channel link as one loopback connection carrying both directions: the
// client computer connects and first sends its session id (4 bytes, little-endian); frames follow
// both ways. A link's sender and receiver each own a socket handle, so one side of the connection
// gets a second handle to the same socket.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <optional>

#include "SimSocket.h"

namespace sim {

// Connects to 127.0.0.1:`port` and sends the session id; invalid on failure.
UniqueSocket ConnectClientLink(uint16_t port, DWORD sessionId);
// Reads the session id a client sends first, waiting at most `timeoutMs` for it.
std::optional<DWORD> ReceiveSessionId(SOCKET link, DWORD timeoutMs);
// A second handle to the same connected socket; invalid on failure.
UniqueSocket DuplicateSocket(SOCKET socket);

}  // namespace sim
