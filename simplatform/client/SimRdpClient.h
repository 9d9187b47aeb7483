// A simulated remote-desktop client that hosts a real client add-in. It loads the add-in's DLL,
// calls its VirtualChannelEntry with entry points of its own, raises the init events on a thread
// of its own, delivers each server message to the add-in's open-event procedure in chunks of at
// most 1600 bytes, and hands each whole message the add-in writes to the server's sink before it
// reports the write complete (or cancels it, or refuses it on a closed channel).
//
// All events reach the add-in on the client's one event thread, in the order they were raised, as
// a real client's would. Termination ends the client as a real one ends: after the terminated
// event no event reaches the add-in, its entry points are gone (a call is refused and counted),
// and the add-in is unloaded. Up to two clients exist per process at a time, as in a program that
// hosts several connections: each gives the add-in entry points of its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "SimLock.h"
#include "SimMessageSink.h"
#include "UniqueHandle.h"
#include "VirtualChannelApi.h"

namespace sim {

class SimRdpClient {
 public:
  static constexpr uint32_t kChunkSize = CHANNEL_CHUNK_LENGTH;

  // What the client does with each write the add-in makes on an open channel.
  enum class WriteOutcome {
    kComplete,  // delivers the message to the server, then reports the write complete
    kCancel,    // drops the message and reports the write cancelled
    kHold,      // drops the message and never reports back
  };

  // A channel as the add-in registered it.
  struct Registration {
    std::string name;
    ULONG options;  // as the add-in asked, before the client marked it initialized
    ULONG version;
  };

  SimRdpClient(SimMessageSink& server, DWORD sessionId);
  ~SimRdpClient();
  SimRdpClient(const SimRdpClient&) = delete;
  SimRdpClient& operator=(const SimRdpClient&) = delete;

  // Loads the add-in and calls its VirtualChannelEntry; returns what that returned (FALSE if the
  // library or the export is missing, or two clients exist already). An add-in whose entry
  // returns FALSE is unloaded again.
  BOOL LoadAddin(const std::wstring& path);
  std::vector<Registration> Registrations();

  // A connection: one CHANNEL_EVENT_CONNECTED per registration. Each returns once the add-in has
  // handled the events.
  void Connect();
  // Closes nothing itself: the add-in closes its channels on CHANNEL_EVENT_DISCONNECTED, one per
  // registration. Writes on a closed channel are refused.
  void Disconnect();
  // Raises CHANNEL_EVENT_TERMINATED, one per registration, then unloads the add-in.
  void Terminate();

  // Delivers a message to the add-in on an open channel, as chunks flagged first and last with
  // the total length. False if the add-in has no open channel of that name or the client has
  // terminated (as for every delivery below).
  bool SendToClient(const std::string& channelName, std::span<const uint8_t> message);
  // Delivers several messages one right after the other, as a server that does not wait for
  // replies would send them.
  bool SendBurstToClient(const std::string& channelName,
                         const std::vector<std::vector<uint8_t>>& messages);
  // Delivers one chunk exactly as given, to the channel's open handle.
  bool SendChunk(const std::string& channelName, std::span<const uint8_t> data,
                 uint32_t totalLength, uint32_t flags);
  // Delivers one chunk to an open handle that may belong to no channel.
  void SendChunkToHandle(DWORD openHandle, std::span<const uint8_t> data, uint32_t totalLength,
                         uint32_t flags);

  void SetWriteOutcome(WriteOutcome outcome);
  // Writes taken on an open channel, whatever their outcome.
  size_t AcceptedWrites();
  // Writes refused because their channel was not open.
  size_t RefusedWrites();
  // The open handle of a channel; 0 if it is not open.
  DWORD OpenHandleOf(const std::string& channelName);
  // Calls of the entry points made after the client terminated.
  size_t CallsAfterTermination();

  // The entry points the add-in calls, forwarded from the plain functions it was given.
  UINT Init(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
            PCHANNEL_INIT_EVENT_FN initProc);
  UINT Open(LPVOID initHandle, LPDWORD openHandle, PCHAR name, PCHANNEL_OPEN_EVENT_FN openProc);
  UINT Close(DWORD openHandle);
  UINT Write(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);

 private:
  struct InitRegistration {
    std::unique_ptr<char> initHandle;  // a distinct address per registration
    std::vector<Registration> channels;
    PCHANNEL_INIT_EVENT_FN initProc;
  };
  struct OpenChannel {
    DWORD handle;
    std::string name;
    LPVOID initHandle;
    PCHANNEL_OPEN_EVENT_FN openProc;
    bool open;
  };

  static DWORD WINAPI EventThread(LPVOID client);
  void RunEvents();
  // Queues a task for the event thread; Run also waits until it has run.
  void Post(std::function<void()> task);
  void Run(std::function<void()> task);
  void RaiseInitEvent(UINT event);
  void DeliverChunks(DWORD openHandle, std::span<const uint8_t> message);
  void CompleteWrite(DWORD openHandle, std::vector<uint8_t> message, LPVOID userData,
                     WriteOutcome outcome);
  OpenChannel* FindOpen(DWORD openHandle);
  OpenChannel* FindOpen(const std::string& name);
  // Under lock_: whether an entry-point call comes after termination, which counts it.
  bool RefuseAfterTermination();
  bool Terminating();

  SimMessageSink& server_;
  DWORD sessionId_;
  int slot_;  // the entry points it gives the add-in; -1 if none was free
  quil::UniqueModule addin_;

  CriticalSection lock_;  // guards everything below and the task queue
  bool inEntry_ = false;
  std::vector<InitRegistration> registrations_;
  std::vector<OpenChannel> channels_;
  DWORD nextHandle_ = 0x51;
  WriteOutcome outcome_ = WriteOutcome::kComplete;
  bool terminating_ = false;  // from the terminated event on: nothing more reaches the add-in
  bool terminated_ = false;   // once the add-in has handled it: the entry points are gone
  size_t acceptedWrites_ = 0;
  size_t refusedWrites_ = 0;
  size_t callsAfterTermination_ = 0;

  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  quil::UniqueHandle taskReady_;
  quil::UniqueHandle thread_;
};

}  // namespace sim
