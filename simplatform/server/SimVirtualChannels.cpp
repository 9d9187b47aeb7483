#include "SimVirtualChannels.h"

#include <wtsapi32.h>

#include <algorithm>
#include <cstring>

#include "SimChunks.h"
#include "SimTerminalServer.h"

namespace sim {
namespace {

void PutU32(std::vector<uint8_t>& bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> 8 * i));
}

std::vector<uint8_t> MakeChunk(uint32_t totalLength, uint32_t flags, const uint8_t* data, size_t size) {
  std::vector<uint8_t> chunk;
  chunk.reserve(8 + size);
  PutU32(chunk, totalLength);
  PutU32(chunk, flags);
  chunk.insert(chunk.end(), data, data + size);
  return chunk;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring HandleText(HANDLE handle) { return std::to_wstring(reinterpret_cast<uintptr_t>(handle)); }

}  // namespace

SimVirtualChannels& SimVirtualChannels::Instance() {
  static SimVirtualChannels channels;
  return channels;
}

void SimVirtualChannels::Reset() {
  Guard guard(lock_);
  clients_.clear();
  written_.clear();
  events_.clear();
  keepWritten_ = true;
  misuses_.clear();
  opens_ = closes_ = invalidCloses_ = 0;
}

void SimVirtualChannels::SetClient(DWORD sessionId, SimMessageSink* client) {
  Guard guard(lock_);
  if (client) {
    clients_[sessionId] = client;
  } else {
    clients_.erase(sessionId);
  }
}

bool SimVirtualChannels::SendToServer(DWORD sessionId, const std::string& channelName,
                                      const std::vector<uint8_t>& message) {
  std::vector<std::vector<uint8_t>> chunks;
  const auto total = static_cast<uint32_t>(message.size());
  for (const SimChunk& chunk : SplitIntoChunks(message)) {
    chunks.push_back(MakeChunk(total, chunk.flags, chunk.data.data(), chunk.data.size()));
  }
  return Queue(sessionId, channelName, std::move(chunks));
}

bool SimVirtualChannels::SendChunkToServer(DWORD sessionId, const std::string& channelName, uint32_t totalLength,
                                           uint32_t flags, const std::vector<uint8_t>& data) {
  return Queue(sessionId, channelName, {MakeChunk(totalLength, flags, data.data(), data.size())});
}

bool SimVirtualChannels::Queue(DWORD sessionId, const std::string& name, std::vector<std::vector<uint8_t>> chunks) {
  Guard guard(lock_);
  auto channel = FindOpen(sessionId, name);
  if (!channel) return false;
  for (auto& chunk : chunks) channel->chunks.push_back(std::move(chunk));
  SetEvent(channel->chunkQueued.get());
  return true;
}

void SimVirtualChannels::KeepWritten(bool keep) {
  Guard guard(lock_);
  keepWritten_ = keep;
}

size_t SimVirtualChannels::UnreadChunks(DWORD sessionId, const std::string& channelName) {
  Guard guard(lock_);
  auto channel = FindOpen(sessionId, channelName);
  return channel ? channel->chunks.size() - channel->nextChunk : 0;
}

std::vector<std::wstring> SimVirtualChannels::Events() {
  Guard guard(lock_);
  return events_;
}

size_t SimVirtualChannels::Opens() {
  Guard guard(lock_);
  return opens_;
}

size_t SimVirtualChannels::Closes() {
  Guard guard(lock_);
  return closes_;
}

size_t SimVirtualChannels::InvalidCloses() {
  Guard guard(lock_);
  return invalidCloses_;
}

std::vector<std::wstring> SimVirtualChannels::Misuses() {
  Guard guard(lock_);
  return misuses_;
}

size_t SimVirtualChannels::OpenChannels() {
  Guard guard(lock_);
  return open_.size();
}

size_t SimVirtualChannels::BlockedReads() {
  Guard guard(lock_);
  return blockedReads_;
}

std::vector<std::vector<uint8_t>> SimVirtualChannels::Written(DWORD sessionId, const std::string& channelName) {
  Guard guard(lock_);
  auto found = written_.find({sessionId, channelName});
  return found == written_.end() ? std::vector<std::vector<uint8_t>>{} : found->second;
}

std::shared_ptr<SimVirtualChannels::Channel> SimVirtualChannels::FindOpen(DWORD sessionId, const std::string& name) {
  // The most recently opened channel of that name wins.
  std::shared_ptr<Channel> found;
  for (const auto& [handle, channel] : open_) {
    if (channel->sessionId == sessionId && channel->name == name) found = channel;
  }
  return found;
}

std::shared_ptr<SimVirtualChannels::Channel> SimVirtualChannels::FromHandle(HANDLE handle) {
  auto found = open_.find(handle);
  return found == open_.end() ? nullptr : found->second;
}

void SimVirtualChannels::RecordMisuse(std::wstring what) { misuses_.push_back(std::move(what)); }

std::shared_ptr<SimVirtualChannels::Channel> SimVirtualChannels::BeginCall(HANDLE handle, const wchar_t* call) {
  auto channel = FromHandle(handle);
  if (!channel) {
    RecordMisuse(std::wstring(call) + L" with handle " + HandleText(handle) + L", which is not open");
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ++channel->callsUnderWay;
  return channel;
}

void SimVirtualChannels::EndCall(Channel& channel) {
  Guard guard(lock_);
  --channel.callsUnderWay;
}

HANDLE SimVirtualChannels::Open(DWORD sessionId, const char* channelName) {
  const std::wstring account = SimTerminalServer::Instance().CallingAccount();
  Guard guard(lock_);
  if (!channelName || !clients_.count(sessionId)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  auto channel = std::make_shared<Channel>();
  channel->sessionId = sessionId;
  channel->name = channelName;
  // Never a value handed out before: a call with a closed handle must not reach this channel.
  const auto handle = reinterpret_cast<HANDLE>(nextHandle_ += 4);
  events_.push_back(L"open " + std::to_wstring(sessionId) + L" " + Wide(channel->name) + L" as " + account);
  open_[handle] = std::move(channel);
  ++opens_;
  return handle;
}

// Hands the message to the client outside the lock: the client may answer at once.
BOOL SimVirtualChannels::Write(HANDLE handle, const char* buffer, ULONG length, ULONG* written) {
  SimMessageSink* client = nullptr;
  std::shared_ptr<Channel> channel;
  {
    Guard guard(lock_);
    channel = BeginCall(handle, L"write");
    if (!channel) return FALSE;
    auto found = clients_.find(channel->sessionId);
    if (found == clients_.end()) {
      --channel->callsUnderWay;
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    client = found->second;
    if (keepWritten_) written_[{channel->sessionId, channel->name}].emplace_back(buffer, buffer + length);
  }
  if (written) *written = length;
  client->DeliverWritten(channel->sessionId, channel->name,
                         {reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(length)});
  EndCall(*channel);
  return TRUE;
}

BOOL SimVirtualChannels::Read(HANDLE handle, ULONG timeout, char* buffer, ULONG size, ULONG* bytesRead) {
  std::shared_ptr<Channel> channel;
  {
    Guard guard(lock_);
    channel = BeginCall(handle, L"read");
  }
  if (!channel) return FALSE;
  const BOOL read = TakeChunk(*channel, timeout, buffer, size, bytesRead);
  const DWORD error = GetLastError();
  EndCall(*channel);
  SetLastError(error);
  return read;
}

BOOL SimVirtualChannels::TakeChunk(Channel& channel, ULONG timeout, char* buffer, ULONG size, ULONG* bytesRead) {
  for (;;) {
    {
      Guard guard(lock_);
      if (channel.closed) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
      }
      if (channel.nextChunk < channel.chunks.size()) {
        const auto& chunk = channel.chunks[channel.nextChunk];
        if (chunk.size() > size) {
          SetLastError(ERROR_INSUFFICIENT_BUFFER);
          return FALSE;
        }
        std::memcpy(buffer, chunk.data(), chunk.size());
        *bytesRead = static_cast<ULONG>(chunk.size());
        ++channel.nextChunk;
        return TRUE;
      }
      ++blockedReads_;
    }
    const DWORD waited = WaitForSingleObject(channel.chunkQueued.get(), timeout);
    {
      Guard guard(lock_);
      --blockedReads_;
    }
    if (waited != WAIT_OBJECT_0) {
      SetLastError(waited == WAIT_TIMEOUT ? ERROR_IO_INCOMPLETE : GetLastError());
      return FALSE;
    }
  }
}

BOOL SimVirtualChannels::Close(HANDLE handle) {
  Guard guard(lock_);
  auto channel = FromHandle(handle);
  if (!channel) {
    ++invalidCloses_;
    RecordMisuse(L"close with handle " + HandleText(handle) + L", which is not open");
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (channel->callsUnderWay) {
    RecordMisuse(L"close of " + std::to_wstring(channel->sessionId) + L" " + Wide(channel->name) +
                 L" while a read or write on it is under way");
  }
  open_.erase(handle);
  events_.push_back(L"close " + std::to_wstring(channel->sessionId) + L" " + Wide(channel->name));
  channel->closed = true;
  SetEvent(channel->chunkQueued.get());
  ++closes_;
  return TRUE;
}

}  // namespace sim

// The server-side virtual-channel calls of this executable.
extern "C" {

HANDLE WINAPI WTSVirtualChannelOpen(HANDLE, DWORD sessionId, LPSTR virtualName) {
  return sim::SimVirtualChannels::Instance().Open(sessionId, virtualName);
}

WINBOOL WINAPI WTSVirtualChannelClose(HANDLE channel) { return sim::SimVirtualChannels::Instance().Close(channel); }

WINBOOL WINAPI WTSVirtualChannelRead(HANDLE channel, ULONG timeout, PCHAR buffer, ULONG size, PULONG bytesRead) {
  return sim::SimVirtualChannels::Instance().Read(channel, timeout, buffer, size, bytesRead);
}

WINBOOL WINAPI WTSVirtualChannelWrite(HANDLE channel, PCHAR buffer, ULONG length, PULONG written) {
  return sim::SimVirtualChannels::Instance().Write(channel, buffer, length, written);
}

}  // extern "C"
