#include "SimRdpClient.h"

#include <algorithm>
#include <cstring>

#include "SimChunks.h"

namespace sim {

namespace {

// The clients that exist, by the slot whose entry points they gave out.
constexpr int kSlots = 2;
SimRdpClient* g_clients[kSlots] = {};

template <int Slot>
UINT VCAPITYPE EntryInit(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                         PCHANNEL_INIT_EVENT_FN initProc) {
  return g_clients[Slot]->Init(initHandle, channels, count, version, initProc);
}

template <int Slot>
UINT VCAPITYPE EntryOpen(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                         PCHANNEL_OPEN_EVENT_FN openProc) {
  return g_clients[Slot]->Open(initHandle, openHandle, name, openProc);
}

template <int Slot>
UINT VCAPITYPE EntryClose(DWORD openHandle) {
  return g_clients[Slot]->Close(openHandle);
}

template <int Slot>
UINT VCAPITYPE EntryWrite(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
  return g_clients[Slot]->Write(openHandle, data, length, userData);
}

template <int Slot>
CHANNEL_ENTRY_POINTS EntryPointsOfSlot() {
  return {sizeof(CHANNEL_ENTRY_POINTS), VIRTUAL_CHANNEL_VERSION_WIN2000, &EntryInit<Slot>,
          &EntryOpen<Slot>, &EntryClose<Slot>, &EntryWrite<Slot>};
}

CHANNEL_ENTRY_POINTS EntryPointsOf(int slot) {
  static_assert(kSlots == 2);
  return slot == 0 ? EntryPointsOfSlot<0>() : EntryPointsOfSlot<1>();
}

// Takes a free slot for `client`; -1 if there is none.
int TakeSlot(SimRdpClient* client) {
  for (int slot = 0; slot < kSlots; ++slot) {
    if (!g_clients[slot]) {
      g_clients[slot] = client;
      return slot;
    }
  }
  return -1;
}

}  // namespace

SimRdpClient::SimRdpClient(SimMessageSink& server, DWORD sessionId)
    : server_(server),
      sessionId_(sessionId),
      slot_(TakeSlot(this)),
      taskReady_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
  thread_.reset(CreateThread(nullptr, 0, &EventThread, this, 0, nullptr));
}

SimRdpClient::~SimRdpClient() {
  {
    Guard hold(lock_);
    stopping_ = true;
  }
  SetEvent(taskReady_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
  // Without a termination the add-in stays loaded: its workers may still be running, and the
  // process ends soon after.
  addin_.release();
  if (slot_ >= 0) g_clients[slot_] = nullptr;
}

DWORD WINAPI SimRdpClient::EventThread(LPVOID client) {
  static_cast<SimRdpClient*>(client)->RunEvents();
  return 0;
}

void SimRdpClient::RunEvents() {
  for (;;) {
    std::function<void()> task;
    {
      Guard hold(lock_);
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
      } else if (stopping_) {
        return;
      }
    }
    if (task) {
      task();
    } else {
      WaitForSingleObject(taskReady_.get(), INFINITE);
    }
  }
}

void SimRdpClient::Post(std::function<void()> task) {
  {
    Guard hold(lock_);
    tasks_.push_back(std::move(task));
  }
  SetEvent(taskReady_.get());
}

void SimRdpClient::Run(std::function<void()> task) {
  quil::UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE doneEvent = done.get();
  Post([&task, doneEvent] {
    task();
    SetEvent(doneEvent);
  });
  WaitForSingleObject(doneEvent, INFINITE);
}

BOOL SimRdpClient::LoadAddin(const std::wstring& path) {
  if (slot_ < 0) return FALSE;
  addin_.reset(LoadLibraryW(path.c_str()));
  if (!addin_) return FALSE;
  auto entry = reinterpret_cast<PVIRTUALCHANNELENTRY>(
      reinterpret_cast<void*>(GetProcAddress(addin_.get(), "VirtualChannelEntry")));
  if (!entry) return FALSE;
  CHANNEL_ENTRY_POINTS entryPoints = EntryPointsOf(slot_);
  {
    Guard hold(lock_);
    inEntry_ = true;
  }
  const BOOL result = entry(&entryPoints);
  {
    Guard hold(lock_);
    inEntry_ = false;
  }
  if (!result) addin_.reset();
  return result;
}

std::vector<SimRdpClient::Registration> SimRdpClient::Registrations() {
  Guard hold(lock_);
  std::vector<Registration> all;
  for (const auto& registration : registrations_) {
    all.insert(all.end(), registration.channels.begin(), registration.channels.end());
  }
  return all;
}

UINT SimRdpClient::Init(LPVOID* initHandle, PCHANNEL_DEF channels, INT count, ULONG version,
                        PCHANNEL_INIT_EVENT_FN initProc) {
  Guard hold(lock_);
  if (RefuseAfterTermination()) return CHANNEL_RC_NOT_INITIALIZED;
  if (!inEntry_) return CHANNEL_RC_NOT_IN_VIRTUALCHANNELENTRY;
  if (!initHandle || !channels || count <= 0 || !initProc) return CHANNEL_RC_BAD_PROC;
  InitRegistration registration{std::make_unique<char>(), {}, initProc};
  for (INT i = 0; i < count; ++i) {
    const std::string name(channels[i].name, strnlen(channels[i].name, CHANNEL_NAME_LEN + 1));
    registration.channels.push_back({name, channels[i].options, version});
    channels[i].options |= CHANNEL_OPTION_INITIALIZED;
  }
  *initHandle = registration.initHandle.get();
  registrations_.push_back(std::move(registration));
  return CHANNEL_RC_OK;
}

UINT SimRdpClient::Open(LPVOID initHandle, LPDWORD openHandle, PCHAR name,
                        PCHANNEL_OPEN_EVENT_FN openProc) {
  Guard hold(lock_);
  if (RefuseAfterTermination()) return CHANNEL_RC_NOT_INITIALIZED;
  if (!openHandle || !name || !openProc) return CHANNEL_RC_BAD_PROC;
  const auto registration = std::find_if(
      registrations_.begin(), registrations_.end(),
      [initHandle](const InitRegistration& r) { return r.initHandle.get() == initHandle; });
  if (registration == registrations_.end()) return CHANNEL_RC_BAD_INIT_HANDLE;
  const auto& defined = registration->channels;
  if (std::none_of(defined.begin(), defined.end(),
                   [name](const Registration& r) { return r.name == name; })) {
    return CHANNEL_RC_UNKNOWN_CHANNEL_NAME;
  }
  if (FindOpen(name)) return CHANNEL_RC_ALREADY_OPEN;
  channels_.push_back({nextHandle_++, name, initHandle, openProc, true});
  *openHandle = channels_.back().handle;
  return CHANNEL_RC_OK;
}

UINT SimRdpClient::Close(DWORD openHandle) {
  Guard hold(lock_);
  if (RefuseAfterTermination()) return CHANNEL_RC_NOT_INITIALIZED;
  OpenChannel* channel = FindOpen(openHandle);
  if (!channel) return CHANNEL_RC_BAD_CHANNEL_HANDLE;
  channel->open = false;
  return CHANNEL_RC_OK;
}

UINT SimRdpClient::Write(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData) {
  Guard hold(lock_);
  if (RefuseAfterTermination()) return CHANNEL_RC_NOT_INITIALIZED;
  if (!FindOpen(openHandle)) {
    ++refusedWrites_;
    return CHANNEL_RC_NOT_OPEN;
  }
  if (!data) return CHANNEL_RC_NULL_DATA;
  if (length == 0) return CHANNEL_RC_ZERO_LENGTH;
  const WriteOutcome outcome = outcome_;
  ++acceptedWrites_;
  // The add-in keeps its data untouched until the write is reported, so the bytes are read only
  // when the client gets round to sending them, on its own thread.
  Post([this, openHandle, data, length, userData, outcome] {
    // From termination on the add-in no longer waits for its writes and may have freed the data.
    if (Terminating()) return;
    const auto* bytes = static_cast<const uint8_t*>(data);
    CompleteWrite(openHandle, std::vector<uint8_t>(bytes, bytes + length), userData, outcome);
  });
  return CHANNEL_RC_OK;
}

void SimRdpClient::CompleteWrite(DWORD openHandle, std::vector<uint8_t> message, LPVOID userData,
                                 WriteOutcome outcome) {
  if (outcome == WriteOutcome::kHold) return;
  std::string name;
  PCHANNEL_OPEN_EVENT_FN openProc = nullptr;
  bool open = false;
  {
    Guard hold(lock_);
    for (const auto& channel : channels_) {
      if (channel.handle == openHandle) {
        name = channel.name;
        openProc = channel.openProc;
        open = channel.open;
      }
    }
  }
  if (!openProc) return;
  // A write still queued when its channel closed is cancelled, not sent.
  if (outcome == WriteOutcome::kCancel || !open) {
    openProc(openHandle, CHANNEL_EVENT_WRITE_CANCELLED, userData, 0, 0, 0);
    return;
  }
  server_.Deliver(sessionId_, name, std::move(message));
  openProc(openHandle, CHANNEL_EVENT_WRITE_COMPLETE, userData, 0, 0, 0);
}

void SimRdpClient::RaiseInitEvent(UINT event) {
  Run([this, event] {
    std::vector<std::pair<LPVOID, PCHANNEL_INIT_EVENT_FN>> targets;
    {
      Guard hold(lock_);
      if (terminating_) return;
      terminating_ = event == CHANNEL_EVENT_TERMINATED;
      for (const auto& registration : registrations_) {
        targets.emplace_back(registration.initHandle.get(), registration.initProc);
      }
    }
    for (const auto& [initHandle, initProc] : targets) initProc(initHandle, event, nullptr, 0);
    Guard hold(lock_);
    if (terminating_) terminated_ = true;
  });
}

void SimRdpClient::Connect() { RaiseInitEvent(CHANNEL_EVENT_CONNECTED); }
void SimRdpClient::Disconnect() { RaiseInitEvent(CHANNEL_EVENT_DISCONNECTED); }
void SimRdpClient::Terminate() {
  RaiseInitEvent(CHANNEL_EVENT_TERMINATED);
  addin_.reset();
}

bool SimRdpClient::SendToClient(const std::string& channelName, std::span<const uint8_t> message) {
  const DWORD handle = OpenHandleOf(channelName);
  if (!handle || Terminating()) return false;
  Run([this, handle, message] { DeliverChunks(handle, message); });
  return true;
}

bool SimRdpClient::SendBurstToClient(const std::string& channelName,
                                     const std::vector<std::vector<uint8_t>>& messages) {
  const DWORD handle = OpenHandleOf(channelName);
  if (!handle || Terminating()) return false;
  Run([this, handle, &messages] {
    for (const auto& message : messages) DeliverChunks(handle, message);
  });
  return true;
}

void SimRdpClient::DeliverChunks(DWORD openHandle, std::span<const uint8_t> message) {
  PCHANNEL_OPEN_EVENT_FN openProc = nullptr;
  {
    Guard hold(lock_);
    const OpenChannel* channel = FindOpen(openHandle);
    if (channel && !terminating_) openProc = channel->openProc;
  }
  if (!openProc) return;
  const auto total = static_cast<UINT32>(message.size());
  for (const SimChunk& chunk : SplitIntoChunks(message)) {
    openProc(openHandle, CHANNEL_EVENT_DATA_RECEIVED, const_cast<uint8_t*>(chunk.data.data()),
             static_cast<UINT32>(chunk.data.size()), total, chunk.flags);
  }
}

bool SimRdpClient::SendChunk(const std::string& channelName, std::span<const uint8_t> data,
                             uint32_t totalLength, uint32_t flags) {
  const DWORD handle = OpenHandleOf(channelName);
  if (!handle || Terminating()) return false;
  SendChunkToHandle(handle, data, totalLength, flags);
  return true;
}

void SimRdpClient::SendChunkToHandle(DWORD openHandle, std::span<const uint8_t> data,
                                     uint32_t totalLength, uint32_t flags) {
  Run([this, openHandle, data, totalLength, flags] {
    // An unknown handle still reaches the add-in: through the procedure of any channel, as all
    // channels of one add-in share it.
    PCHANNEL_OPEN_EVENT_FN openProc = nullptr;
    {
      Guard hold(lock_);
      if (!channels_.empty() && !terminating_) openProc = channels_.front().openProc;
    }
    if (openProc) {
      openProc(openHandle, CHANNEL_EVENT_DATA_RECEIVED, const_cast<uint8_t*>(data.data()),
               static_cast<UINT32>(data.size()), totalLength, flags);
    }
  });
}

void SimRdpClient::SetWriteOutcome(WriteOutcome outcome) {
  Guard hold(lock_);
  outcome_ = outcome;
}

size_t SimRdpClient::AcceptedWrites() {
  Guard hold(lock_);
  return acceptedWrites_;
}

size_t SimRdpClient::RefusedWrites() {
  Guard hold(lock_);
  return refusedWrites_;
}

size_t SimRdpClient::CallsAfterTermination() {
  Guard hold(lock_);
  return callsAfterTermination_;
}

bool SimRdpClient::RefuseAfterTermination() {
  if (terminated_) ++callsAfterTermination_;
  return terminated_;
}

bool SimRdpClient::Terminating() {
  Guard hold(lock_);
  return terminating_;
}

DWORD SimRdpClient::OpenHandleOf(const std::string& channelName) {
  Guard hold(lock_);
  const OpenChannel* channel = FindOpen(channelName);
  return channel ? channel->handle : 0;
}

SimRdpClient::OpenChannel* SimRdpClient::FindOpen(DWORD openHandle) {
  for (auto& channel : channels_) {
    if (channel.handle == openHandle && channel.open) return &channel;
  }
  return nullptr;
}

SimRdpClient::OpenChannel* SimRdpClient::FindOpen(const std::string& name) {
  for (auto& channel : channels_) {
    if (channel.name == name && channel.open) return &channel;
  }
  return nullptr;
}

}  // namespace sim
