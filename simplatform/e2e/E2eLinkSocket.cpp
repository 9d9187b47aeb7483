#include "E2eLinkSocket.h"

#include <array>
#include <span>
#include <vector>

namespace sim {
namespace {

constexpr size_t kSessionIdSize = 4;

bool WaitReadable(SOCKET socket, DWORD timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
  return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

// Fills the buffer from the socket; false if the deadline (on GetTickCount64) passes first or
// the connection ends.
bool ReceiveExactly(SOCKET link, std::span<uint8_t> buffer, ULONGLONG deadline) {
  for (size_t received = 0; received < buffer.size();) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline || !WaitReadable(link, static_cast<DWORD>(deadline - now))) return false;
    const int got = recv(link, reinterpret_cast<char*>(buffer.data() + received),
                         static_cast<int>(buffer.size() - received), 0);
    if (got <= 0) return false;
    received += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

UniqueSocket ConnectClientLink(uint16_t port, DWORD sessionId, std::string_view linkProfile) {
  if (linkProfile.size() > kMaxProfileNameSize) return {};
  UniqueSocket link = ConnectToLoopback(port);
  if (!link) return {};
  std::vector<uint8_t> hello;
  for (size_t i = 0; i < kSessionIdSize; ++i) hello.push_back(static_cast<uint8_t>(sessionId >> 8 * i));
  hello.push_back(static_cast<uint8_t>(linkProfile.size()));
  hello.insert(hello.end(), linkProfile.begin(), linkProfile.end());
  if (!SendAll(link.get(), hello)) return {};
  return link;
}

std::optional<ClientHello> ReceiveClientHello(SOCKET link, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  std::array<uint8_t, kSessionIdSize + 1> fixed{};
  if (!ReceiveExactly(link, fixed, deadline)) return std::nullopt;
  const size_t nameSize = fixed[kSessionIdSize];
  if (nameSize > kMaxProfileNameSize) return std::nullopt;
  std::string name(nameSize, '\0');
  if (!ReceiveExactly(link, {reinterpret_cast<uint8_t*>(name.data()), name.size()}, deadline)) return std::nullopt;
  const auto shape = LinkProfile(name);
  if (!shape) return std::nullopt;
  const DWORD sessionId = fixed[0] | DWORD{fixed[1]} << 8 | DWORD{fixed[2]} << 16 | DWORD{fixed[3]} << 24;
  return ClientHello{sessionId, std::move(name), *shape};
}

UniqueSocket DuplicateSocket(SOCKET socket) {
  WSAPROTOCOL_INFOW info{};
  if (WSADuplicateSocketW(socket, GetCurrentProcessId(), &info) != 0) return {};
  return UniqueSocket(
      WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0, 0));
}

}  // namespace sim
