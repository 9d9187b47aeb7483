// The add-in's side of the remote-desktop client's static virtual channels: the registered
// channels, the reassembly of received messages and the blocking write that handlers reply with.
#pragma once

#include <windows.h>

#include "VirtualChannelApi.h"

#include <atomic>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "CriticalSection.h"
#include "MessageAssembler.h"
#include "MessageBounds.h"
#include "QuilVirtChannelCallback.h"
#include "UniqueHandle.h"

// One registered channel.
class CAddinChannel {
 public:
  // Null unless all three events could be created.
  static std::unique_ptr<CAddinChannel> Create(std::string name,
                                               const CHANNEL_ENTRY_POINTS* entryPoints,
                                               IQuilVirtChannelCallback* handler);

  const std::string& Name() const { return name_; }
  DWORD OpenHandle() const { return openHandle_; }
  IQuilVirtChannelCallback* Handler() const { return handler_; }

  // Opens the channel under a registration's init handle; a failed open changes nothing.
  void Open(LPVOID initHandle);
  // Closes the channel; the open handle stays stored until the next successful open.
  void Close();

  // Hands `data` to the client and waits, without a time limit, until the client has finished
  // with it. True only when the client reports the write completed; false when the client refuses
  // it, cancels it, or terminates meanwhile; false at once after the client has terminated. The
  // data must stay untouched until this returns. Waiting writes on one channel take turns: the
  // channel's write events serve one of them at a time.
  bool Write(const void* data, DWORD length);
  // Hands `data` to the client without waiting for it: for an answer from the client's own
  // thread, which must not wait. The data must stay unchanged for the life of the add-in; how the
  // write ends is not reported. False if the client refuses it or has terminated.
  bool WriteDetached(std::span<const uint8_t> data);

  // A chunk of a message from the server; a complete message goes to the handler.
  void OnChunk(const void* data, UINT32 length, UINT32 totalLength, UINT32 flags);
  // A handler gives a message's storage back when done with it, from any thread, for the next
  // message to be joined in.
  void Recycle(std::vector<uint8_t> storage);
  // The client reports how a write ended, with the user data the write was handed over with.
  void OnWriteComplete(LPVOID userData);
  void OnWriteCancelled(LPVOID userData);
  // Wakes a write that is waiting for the client; no write reaches the client from now on, as
  // its entry points end with it.
  void OnTerminated();

 private:
  CAddinChannel(std::string name, const CHANNEL_ENTRY_POINTS* entryPoints,
                IQuilVirtChannelCallback* handler);
  bool HandToClient(const void* data, DWORD length, LPVOID userData);

  std::string name_;
  std::atomic<DWORD> openHandle_{0};  // replaced on the client's thread, read by writers
  const CHANNEL_ENTRY_POINTS* entryPoints_;
  quil::UniqueHandle writeComplete_;
  quil::UniqueHandle writeCancelled_;
  quil::UniqueHandle terminatedEvent_;
  std::atomic<bool> terminated_{false};
  quil::CriticalSection writeLock_;  // held from handing data to the client until it is done
  quil::CriticalSection assemblerLock_;  // the client's thread joins chunks while a worker recycles
  quil::CQuilMessageAssembler assembler_{quil::CQuilMessageAssembler::StartRule::kFirstFlag, quil::ServerMessageBound};
  IQuilVirtChannelCallback* handler_;  // not owned
};

// The process-wide list of registered channels and the client's entry points. Built in
// VirtualChannelEntry and not changed afterwards, so the event procedures read it without a lock.
class CAddinChannelRegistry {
 public:
  static CAddinChannelRegistry& Instance();

  // Keeps a private copy of the client's entry points; false if it cannot, or if it holds those
  // of an earlier entry: the add-in serves one connection per process, whose channels keep
  // calling the entry points they were registered with.
  bool CopyEntryPoints(const CHANNEL_ENTRY_POINTS* entryPoints);
  // Registers one channel with the client and appends it to the list.
  bool Register(const char* name, IQuilVirtChannelCallback* handler);

  void OnInitEvent(LPVOID initHandle, UINT event);
  void OnOpenEvent(DWORD openHandle, UINT event, LPVOID data, UINT32 length, UINT32 totalLength,
                   UINT32 flags);

 private:
  CAddinChannelRegistry() = default;
  const CHANNEL_ENTRY_POINTS* EntryPoints() const;
  CAddinChannel* Find(DWORD openHandle) const;
  void OnConnected(LPVOID initHandle);
  void OnTerminated();

  quil::UniqueLocalMemory entryPoints_;
  std::vector<std::unique_ptr<CAddinChannel>> channels_;
  bool connectedOnce_ = false;  // set by the first connection event, never cleared
  bool terminated_ = false;     // set by the first termination event: the others find it done
};
