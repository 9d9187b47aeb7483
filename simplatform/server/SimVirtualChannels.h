// The server end of simulated static virtual channels, as WTSVirtualChannelOpen/Read/Write/Close
// report them. A channel opens only in a session whose client is registered. What the server
// writes goes whole to that client's message sink; what the client sends back is split into the
// platform's chunks (8-byte header with the total length and the FIRST/LAST flags, then at most
// 1600 data bytes), which the server's reads return one at a time.
//
// As on Windows, closing a channel frees its handle: a later call with it, or a close while
// another thread is inside a read or write on it, would act on freed memory or on another channel
// that took over the handle value. Here a handle value is never handed out again, and each such
// call is refused with ERROR_INVALID_HANDLE and recorded as a misuse, which the tests' fixtures
// check for. (A close during a read also ends that read, so that a test shows the misuse rather
// than hanging.)
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "SimLock.h"
#include "SimMessageSink.h"
#include "UniqueHandle.h"

namespace sim {

class SimVirtualChannels {
 public:
  static SimVirtualChannels& Instance();

  // Forgets the clients; channels still open stay valid until closed.
  void Reset();
  // The client end of every channel of the session (null: the session has no client).
  void SetClient(DWORD sessionId, SimMessageSink* client);

  // Queues a message from the client on the session's open channel of that name, split into
  // chunks; false if no such channel is open.
  bool SendToServer(DWORD sessionId, const std::string& channelName, const std::vector<uint8_t>& message);
  // Queues one chunk exactly as given (header fields and data), for malformed input.
  bool SendChunkToServer(DWORD sessionId, const std::string& channelName, uint32_t totalLength, uint32_t flags,
                         const std::vector<uint8_t>& data);

  // Whether written messages are kept for Written() (on by default; off for long jobs).
  void KeepWritten(bool keep);
  // Chunks queued for the server's reads on the session's open channel and not yet read.
  size_t UnreadChunks(DWORD sessionId, const std::string& channelName);
  // Opens and closes in order: "open <session> <name> as <account>" (the identity of the opening
  // thread, see SimTerminalServer::CallingAccount) and "close <session> <name>".
  std::vector<std::wstring> Events();

  size_t Opens();
  size_t Closes();
  // Close calls on handles that were not open (already closed, or never opened).
  size_t InvalidCloses();
  // Every call with a handle that was not open, and every close while a read or write on the
  // channel was under way, in order.
  std::vector<std::wstring> Misuses();
  size_t OpenChannels();
  // Reads currently waiting for a chunk.
  size_t BlockedReads();
  // The messages the server wrote on the session's channels of that name, in order.
  std::vector<std::vector<uint8_t>> Written(DWORD sessionId, const std::string& channelName);

  // The platform calls.
  HANDLE Open(DWORD sessionId, const char* channelName);
  BOOL Write(HANDLE handle, const char* buffer, ULONG length, ULONG* written);
  BOOL Read(HANDLE handle, ULONG timeout, char* buffer, ULONG size, ULONG* bytesRead);
  BOOL Close(HANDLE handle);

 private:
  struct Channel {
    DWORD sessionId = 0;
    std::string name;
    std::vector<std::vector<uint8_t>> chunks;  // queued for the server's reads, header included
    size_t nextChunk = 0;
    bool closed = false;
    size_t callsUnderWay = 0;  // reads and writes of the server on it
    quil::UniqueHandle chunkQueued{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
  };

  SimVirtualChannels() = default;
  std::shared_ptr<Channel> FindOpen(DWORD sessionId, const std::string& name);
  std::shared_ptr<Channel> FromHandle(HANDLE handle);
  bool Queue(DWORD sessionId, const std::string& name, std::vector<std::vector<uint8_t>> chunks);
  // The open channel of the handle, its call counted as under way; null (a misuse) if none.
  std::shared_ptr<Channel> BeginCall(HANDLE handle, const wchar_t* call);
  void EndCall(Channel& channel);
  // The read proper: the next queued chunk, waiting up to `timeout` for one.
  BOOL TakeChunk(Channel& channel, ULONG timeout, char* buffer, ULONG size, ULONG* bytesRead);
  void RecordMisuse(std::wstring what);

  CriticalSection lock_;
  std::map<DWORD, SimMessageSink*> clients_;
  std::map<HANDLE, std::shared_ptr<Channel>> open_;
  std::map<std::pair<DWORD, std::string>, std::vector<std::vector<uint8_t>>> written_;
  uintptr_t nextHandle_ = 0x7C00;
  size_t opens_ = 0;
  size_t closes_ = 0;
  size_t invalidCloses_ = 0;
  size_t blockedReads_ = 0;
  bool keepWritten_ = true;
  std::vector<std::wstring> events_;
  std::vector<std::wstring> misuses_;
};

}  // namespace sim
