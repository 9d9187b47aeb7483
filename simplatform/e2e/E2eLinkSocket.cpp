#include "E2eLinkSocket.h"

#include <array>

namespace sim {
namespace {

bool WaitReadable(SOCKET socket, DWORD timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval timeout{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
  return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}

}  // namespace

UniqueSocket ConnectClientLink(uint16_t port, DWORD sessionId) {
  UniqueSocket link = ConnectToLoopback(port);
  if (!link) return {};
  std::array<uint8_t, 4> id{};
  for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<uint8_t>(sessionId >> 8 * i);
  if (!SendAll(link.get(), id)) return {};
  return link;
}

std::optional<DWORD> ReceiveSessionId(SOCKET link, DWORD timeoutMs) {
  std::array<uint8_t, 4> id{};
  size_t received = 0;
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (received < id.size()) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return std::nullopt;
    if (!WaitReadable(link, static_cast<DWORD>(deadline - now))) return std::nullopt;
    const int got = recv(link, reinterpret_cast<char*>(id.data() + received),
                         static_cast<int>(id.size() - received), 0);
    if (got <= 0) return std::nullopt;
    received += static_cast<size_t>(got);
  }
  return id[0] | DWORD{id[1]} << 8 | DWORD{id[2]} << 16 | DWORD{id[3]} << 24;
}

UniqueSocket DuplicateSocket(SOCKET socket) {
  WSAPROTOCOL_INFOW info{};
  if (WSADuplicateSocketW(socket, GetCurrentProcessId(), &info) != 0) return {};
  return UniqueSocket(
      WSASocketW(FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, FROM_PROTOCOL_INFO, &info, 0, 0));
}

}  // namespace sim
