#include "SimSocket.h"

#include <algorithm>
#include <climits>

namespace sim {
namespace {

// Loopback messages are small and answered one by one: without this, delayed acknowledgements
// would hold each of them back.
void SendAtOnce(SOCKET socket) {
  const BOOL on = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof(on));
}

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

UniqueSocket NewTcpSocket() { return UniqueSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

}  // namespace

WinsockSession::WinsockSession() {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockSession::~WinsockSession() {
  if (started_) WSACleanup();
}

UniqueSocket ListenOnLoopback(uint16_t& port) {
  UniqueSocket listener = NewTcpSocket();
  if (!listener) return {};
  sockaddr_in address = LoopbackAddress(0);
  int size = sizeof(address);
  if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener.get(), 1) != 0 ||
      getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    return {};
  }
  port = ntohs(address.sin_port);
  return listener;
}

UniqueSocket AcceptConnection(SOCKET listener, DWORD timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(listener, &readable);
  timeval timeout{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
  if (select(0, &readable, nullptr, nullptr, &timeout) != 1) return {};
  UniqueSocket accepted(accept(listener, nullptr, nullptr));
  if (accepted) SendAtOnce(accepted.get());
  return accepted;
}

UniqueSocket ConnectToLoopback(uint16_t port) {
  UniqueSocket connected = NewTcpSocket();
  if (!connected) return {};
  const sockaddr_in address = LoopbackAddress(port);
  if (connect(connected.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) return {};
  SendAtOnce(connected.get());
  return connected;
}

bool SendAll(SOCKET socket, std::span<const uint8_t> bytes, DWORD waitMs) {
  while (!bytes.empty()) {
    const int length = static_cast<int>(std::min<size_t>(bytes.size(), INT_MAX));
    const int sent = send(socket, reinterpret_cast<const char*>(bytes.data()), length, 0);
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<size_t>(sent));
      continue;
    }
    if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK) return false;
    // A socket that a SocketReader also reads is non-blocking: wait until the connection takes more.
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket, &writable);
    timeval timeout{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000};
    if (select(0, nullptr, &writable, nullptr, waitMs == INFINITE ? nullptr : &timeout) != 1) return false;
  }
  return true;
}

SocketReader::SocketReader(SOCKET socket)
    : socket_(socket),
      arrivals_(64 * 1024),
      arrived_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  ready_ = arrived_ && stop_ && WSAEventSelect(socket_, arrived_.get(), FD_READ | FD_CLOSE) == 0;
}

ReceiveResult SocketReader::ReadExactly(std::span<uint8_t> buffer) {
  size_t received = 0;
  while (received < buffer.size()) {
    if (taken_ == filled_) {
      const ReceiveResult refill = Refill(received > 0);
      if (refill != ReceiveResult::kComplete) return refill;
    }
    const size_t piece = std::min(buffer.size() - received, filled_ - taken_);
    std::copy_n(arrivals_.begin() + static_cast<std::ptrdiff_t>(taken_), piece, buffer.begin() + received);
    taken_ += piece;
    received += piece;
  }
  return ReceiveResult::kComplete;
}

ReceiveResult SocketReader::Refill(bool midRead) {
  taken_ = filled_ = 0;
  for (;;) {
    if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) return ReceiveResult::kStopped;
    const int got = recv(socket_, reinterpret_cast<char*>(arrivals_.data()), static_cast<int>(arrivals_.size()), 0);
    if (got > 0) {
      filled_ = static_cast<size_t>(got);
      return ReceiveResult::kComplete;
    }
    if (got == 0) return midRead ? ReceiveResult::kCut : ReceiveResult::kClosed;
    if (WSAGetLastError() != WSAEWOULDBLOCK) return ReceiveResult::kFailed;
    // Nothing to read yet: wait for an arrival (which the next recv re-arms) or for Stop.
    const HANDLE events[] = {stop_.get(), arrived_.get()};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0) return ReceiveResult::kStopped;
    if (woke != WAIT_OBJECT_0 + 1) return ReceiveResult::kFailed;
    WSANETWORKEVENTS happened;
    if (WSAEnumNetworkEvents(socket_, arrived_.get(), &happened) != 0) return ReceiveResult::kFailed;
  }
}

void SocketReader::Stop() { SetEvent(stop_.get()); }

}  // namespace sim
