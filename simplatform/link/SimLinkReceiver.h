// The receiving end of a channel link: a thread that reads frames from a connected loopback
// socket and hands each chunk, unchanged, to a target (the server end's SendChunkToServer, the
// simulated client's SendChunk), whose own reassembly joins the chunks into messages.
//
// Every header field is checked before it is used. The link ends at the first frame out of
// bounds, at a frame the peer cut short by closing the connection, or at a failed socket call:
// nothing after that is read or handed on, the connection is shut down and the socket closed, and
// the reason is reported by WaitForEnd.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "SimLinkFrame.h"
#include "SimLock.h"
#include "SimSocket.h"
#include "UniqueHandle.h"

namespace sim {

class SimLinkReceiver {
 public:
  using Target = std::function<void(DWORD sessionId, const std::string& channelName, uint32_t totalLength,
                                    uint32_t flags, std::span<const uint8_t> data)>;

  // Starts the thread at once; the target is called on it, one chunk at a time.
  SimLinkReceiver(UniqueSocket socket, Target target);
  // Stops the thread's reading and waits for the thread, which shuts the connection down.
  ~SimLinkReceiver();
  SimLinkReceiver(const SimLinkReceiver&) = delete;
  SimLinkReceiver& operator=(const SimLinkReceiver&) = delete;

  // Waits up to `timeoutMs` for the link to end; kRunning if it has not.
  SimLinkEnd WaitForEnd(DWORD timeoutMs);
  // The bytes of the frames handed on so far, headers included.
  uint64_t ReceivedBytes();

 private:
  static DWORD WINAPI ReceiveThread(LPVOID receiver);
  SimLinkEnd Receive();
  void End(SimLinkEnd end);

  Target target_;
  UniqueSocket socket_;
  SocketReader reader_;
  CriticalSection lock_;  // guards end_ and received_
  SimLinkEnd end_ = SimLinkEnd::kRunning;
  uint64_t received_ = 0;
  quil::UniqueHandle ended_;
  quil::UniqueHandle thread_;
};

}  // namespace sim
