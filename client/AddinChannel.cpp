#include "AddinChannel.h"

#include <cstring>
#include <span>

#include "WorkerThread.h"

namespace {

VOID VCAPITYPE InitEventProc(LPVOID initHandle, UINT event, LPVOID, UINT) {
  try {
    CAddinChannelRegistry::Instance().OnInitEvent(initHandle, event);
  } catch (...) {
    // Nothing may escape into the remote-desktop client.
  }
}

VOID VCAPITYPE OpenEventProc(DWORD openHandle, UINT event, LPVOID data, UINT32 length,
                             UINT32 totalLength, UINT32 flags) {
  try {
    CAddinChannelRegistry::Instance().OnOpenEvent(openHandle, event, data, length, totalLength,
                                                  flags);
  } catch (...) {
    // Nothing may escape into the remote-desktop client; the message is lost.
  }
}

// How long the client's termination waits for the add-in's workers to end (an aborted job, a
// write that termination woke) before the client goes on to unload the add-in.
constexpr DWORD kWorkerEndMs = 5000;

// The user data of every detached write, which tells its write events from a waiting write's.
char g_detachedWrite = 0;

quil::UniqueHandle CreateAutoResetEvent() {
  return quil::UniqueHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

}  // namespace

CAddinChannel::CAddinChannel(std::string name, const CHANNEL_ENTRY_POINTS* entryPoints,
                             IQuilVirtChannelCallback* handler)
    : name_(std::move(name)),
      entryPoints_(entryPoints),
      writeComplete_(CreateAutoResetEvent()),
      writeCancelled_(CreateAutoResetEvent()),
      terminatedEvent_(CreateAutoResetEvent()),
      handler_(handler) {}

std::unique_ptr<CAddinChannel> CAddinChannel::Create(std::string name,
                                                     const CHANNEL_ENTRY_POINTS* entryPoints,
                                                     IQuilVirtChannelCallback* handler) {
  std::unique_ptr<CAddinChannel> channel(new CAddinChannel(std::move(name), entryPoints, handler));
  if (!channel->writeComplete_ || !channel->writeCancelled_ || !channel->terminatedEvent_) {
    return nullptr;
  }
  return channel;
}

void CAddinChannel::Open(LPVOID initHandle) {
  DWORD handle = 0;
  if (entryPoints_->pVirtualChannelOpen(initHandle, &handle, const_cast<PCHAR>(name_.c_str()),
                                        &OpenEventProc) == CHANNEL_RC_OK) {
    openHandle_ = handle;
  }
}

void CAddinChannel::Close() { entryPoints_->pVirtualChannelClose(openHandle_); }

bool CAddinChannel::Write(const void* data, DWORD length) {
  quil::ScopedLock turn(writeLock_);
  if (!HandToClient(data, length, const_cast<void*>(data))) return false;
  const HANDLE events[] = {writeComplete_.get(), writeCancelled_.get(), terminatedEvent_.get()};
  return WaitForMultipleObjects(3, events, FALSE, INFINITE) == WAIT_OBJECT_0;
}

bool CAddinChannel::WriteDetached(std::span<const uint8_t> data) {
  return HandToClient(data.data(), static_cast<DWORD>(data.size()), &g_detachedWrite);
}

bool CAddinChannel::HandToClient(const void* data, DWORD length, LPVOID userData) {
  if (terminated_) return false;
  return entryPoints_->pVirtualChannelWrite(openHandle_, const_cast<void*>(data), length,
                                            userData) == CHANNEL_RC_OK;
}

void CAddinChannel::OnWriteComplete(LPVOID userData) {
  if (userData != &g_detachedWrite) SetEvent(writeComplete_.get());
}

void CAddinChannel::OnWriteCancelled(LPVOID userData) {
  if (userData != &g_detachedWrite) SetEvent(writeCancelled_.get());
}

void CAddinChannel::OnTerminated() {
  terminated_ = true;
  SetEvent(terminatedEvent_.get());
}

void CAddinChannel::OnChunk(const void* data, UINT32 length, UINT32 totalLength, UINT32 flags) {
  using Result = quil::CQuilMessageAssembler::Result;
  if (!data && length != 0) return;
  const std::span<const uint8_t> chunk(static_cast<const uint8_t*>(data), length);
  std::vector<uint8_t> message;
  {
    quil::ScopedLock hold(assemblerLock_);
    if (assembler_.AddChunk(chunk, totalLength, flags) != Result::kComplete) return;
    message = assembler_.TakeMessage();
  }
  if (handler_) handler_->OnData(std::move(message));
}

void CAddinChannel::Recycle(std::vector<uint8_t> storage) {
  quil::ScopedLock hold(assemblerLock_);
  assembler_.Recycle(std::move(storage));
}

CAddinChannelRegistry& CAddinChannelRegistry::Instance() {
  static CAddinChannelRegistry registry;
  return registry;
}

const CHANNEL_ENTRY_POINTS* CAddinChannelRegistry::EntryPoints() const {
  return static_cast<const CHANNEL_ENTRY_POINTS*>(entryPoints_.get());
}

bool CAddinChannelRegistry::CopyEntryPoints(const CHANNEL_ENTRY_POINTS* entryPoints) {
  // The add-in calls all four entry points, so a shorter table than the one it knows is refused.
  if (entryPoints_ || !entryPoints || entryPoints->cbSize < sizeof(CHANNEL_ENTRY_POINTS)) {
    return false;
  }
  quil::UniqueLocalMemory copy(LocalAlloc(LPTR, entryPoints->cbSize));
  if (!copy) return false;
  std::memcpy(copy.get(), entryPoints, entryPoints->cbSize);
  entryPoints_ = std::move(copy);
  return true;
}

bool CAddinChannelRegistry::Register(const char* name, IQuilVirtChannelCallback* handler) {
  const CHANNEL_ENTRY_POINTS* entryPoints = EntryPoints();
  if (!entryPoints || std::strlen(name) > CHANNEL_NAME_LEN) return false;
  CHANNEL_DEF definition{};
  std::strncpy(definition.name, name, CHANNEL_NAME_LEN);
  definition.options = CHANNEL_OPTION_SHOW_PROTOCOL;
  LPVOID initHandle = nullptr;
  const UINT result = entryPoints->pVirtualChannelInit(
      &initHandle, &definition, 1, VIRTUAL_CHANNEL_VERSION_WIN2000, &InitEventProc);
  if (result != CHANNEL_RC_OK || !(definition.options & CHANNEL_OPTION_INITIALIZED)) return false;
  auto channel = CAddinChannel::Create(name, entryPoints, handler);
  if (!channel) return false;
  channels_.push_back(std::move(channel));
  return true;
}

CAddinChannel* CAddinChannelRegistry::Find(DWORD openHandle) const {
  if (openHandle == 0) return nullptr;  // the handle of a channel that was never opened
  for (const auto& channel : channels_) {
    if (channel->OpenHandle() == openHandle) return channel.get();
  }
  return nullptr;
}

void CAddinChannelRegistry::OnConnected(LPVOID initHandle) {
  // One connection raises one event per registration: every channel gets an open attempt under
  // each registration's handle, and only the attempt under its own registration succeeds.
  for (const auto& channel : channels_) channel->Open(initHandle);
  const bool first = !connectedOnce_;
  connectedOnce_ = true;
  for (const auto& channel : channels_) {
    if (!channel->Handler()) continue;
    if (first) {
      channel->Handler()->OnConnected(channel.get());
    } else {
      channel->Handler()->OnReconnected(channel.get());
    }
  }
}

void CAddinChannelRegistry::OnTerminated() {
  if (terminated_) return;
  terminated_ = true;
  for (const auto& channel : channels_) {
    channel->OnTerminated();
    if (channel->Handler()) channel->Handler()->OnTerminated();
  }
  // The client unloads the add-in next. The workers' references keep it loaded until they end;
  // they get a short time to end before the client goes on.
  quil::WaitForWorkers(kWorkerEndMs);
}

void CAddinChannelRegistry::OnInitEvent(LPVOID initHandle, UINT event) {
  switch (event) {
    case CHANNEL_EVENT_CONNECTED:
      OnConnected(initHandle);
      break;
    case CHANNEL_EVENT_DISCONNECTED:
      for (const auto& channel : channels_) channel->Close();
      break;
    case CHANNEL_EVENT_TERMINATED:
      OnTerminated();
      break;
    default:
      break;
  }
}

void CAddinChannelRegistry::OnOpenEvent(DWORD openHandle, UINT event, LPVOID data, UINT32 length,
                                        UINT32 totalLength, UINT32 flags) {
  CAddinChannel* channel = Find(openHandle);
  if (!channel) return;
  switch (event) {
    case CHANNEL_EVENT_DATA_RECEIVED:
      channel->OnChunk(data, length, totalLength, flags);
      break;
    case CHANNEL_EVENT_WRITE_COMPLETE:
      channel->OnWriteComplete(data);
      break;
    case CHANNEL_EVENT_WRITE_CANCELLED:
      channel->OnWriteCancelled(data);
      break;
    default:
      break;
  }
}
