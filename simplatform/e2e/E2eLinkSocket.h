// The end-to-end run's channel link as one loopback connection carrying both directions: the
// client computer connects and first sends its hello, then frames follow both ways. A link's
// sender and receiver each own a socket handle, so one side of the connection gets a second
// handle to the same socket.
//
// The hello: the session id (4 bytes, little-endian), then the link profile that shapes both
// directions (SimLinkShape.h) as a length byte and that many characters, no terminator; length 0
// for an unshaped link.
#pragma once

#include <winsock2.h>

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "SimLinkShape.h"
#include "SimSocket.h"

namespace sim {

inline constexpr size_t kMaxProfileNameSize = 16;

struct ClientHello {
  DWORD sessionId = 0;
  std::string linkProfile;
  SimLinkShape shape;  // the profile's
};

// Connects to 127.0.0.1:`port` and sends the hello; invalid on failure, or for a profile name
// longer than kMaxProfileNameSize.
UniqueSocket ConnectClientLink(uint16_t port, DWORD sessionId, std::string_view linkProfile = {});
// Reads the hello a client sends first, waiting at most `timeoutMs` for it; nullopt if it does not
// come whole in time, or names a profile longer than kMaxProfileNameSize or unknown.
std::optional<ClientHello> ReceiveClientHello(SOCKET link, DWORD timeoutMs);
// A second handle to the same connected socket; invalid on failure.
UniqueSocket DuplicateSocket(SOCKET socket);

}  // namespace sim
