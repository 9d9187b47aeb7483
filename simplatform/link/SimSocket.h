// Loopback TCP for the simulated platform's channel links: Winsock started for a scope, sockets
// that close themselves, and the few socket calls the links make. Only 127.0.0.1 is ever used.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "UniqueHandle.h"

namespace sim {

struct SocketTraits {
  using Handle = SOCKET;
  static Handle Invalid() { return INVALID_SOCKET; }
  static void Close(Handle socket) { closesocket(socket); }
};
using UniqueSocket = quil::UniqueResource<SocketTraits>;

// Winsock 2.2 for the life of the object.
class WinsockSession {
 public:
  WinsockSession();
  ~WinsockSession();
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Started() const { return started_; }

 private:
  bool started_;
};

// A socket listening on 127.0.0.1 at a port the system chose, which `port` receives; invalid on
// failure.
UniqueSocket ListenOnLoopback(uint16_t& port);
// The next connection to the listener, waiting at most `timeoutMs`; invalid on timeout or failure.
UniqueSocket AcceptConnection(SOCKET listener, DWORD timeoutMs);
// A connection to 127.0.0.1:`port`; invalid on failure.
UniqueSocket ConnectToLoopback(uint16_t port);

// Sends every byte, waiting while the connection is full (also on a non-blocking socket); false if
// the connection failed first, or stayed full for `waitMs` at a time.
bool SendAll(SOCKET socket, std::span<const uint8_t> bytes, DWORD waitMs = INFINITE);

enum class ReceiveResult {
  kComplete,  // the buffer is full
  kClosed,    // the peer closed the connection before a byte of it arrived
  kCut,       // the peer closed the connection after part of it arrived
  kFailed,    // the connection failed
  kStopped,   // Stop was called
};

// Reads from a connected socket in a way another thread can stop: the socket is made
// non-blocking (for every handle to it, so for a sender sharing it too), its arrivals signal an
// event, and a read waits for that event or for Stop. It takes from the socket as much as has
// arrived (up to 64 KiB at a time) and hands it out in the pieces asked for, so the socket must
// be read only through this object.
class SocketReader {
 public:
  explicit SocketReader(SOCKET socket);
  SocketReader(const SocketReader&) = delete;
  SocketReader& operator=(const SocketReader&) = delete;

  // False if the socket could not be set up for reading this way.
  bool Ready() const { return ready_; }
  // Reads exactly buffer.size() bytes.
  ReceiveResult ReadExactly(std::span<uint8_t> buffer);
  // Ends the read under way and every later one; from any thread.
  void Stop();

 private:
  // Waits for more to arrive and takes it; kComplete once something was taken.
  ReceiveResult Refill(bool midRead);

  SOCKET socket_;
  std::vector<uint8_t> arrivals_;
  size_t taken_ = 0;   // bytes of arrivals_ already handed out
  size_t filled_ = 0;  // bytes of arrivals_ that hold received data
  quil::UniqueHandle arrived_;
  quil::UniqueHandle stop_;
  bool ready_;
};

}  // namespace sim
