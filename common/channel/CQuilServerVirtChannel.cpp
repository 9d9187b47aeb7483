#include "CQuilServerVirtChannel.h"

#include <wtsapi32.h>

#include "ChannelChunk.h"
#include "MessageAssembler.h"
#include "QuilLog.h"
#include "SessionEventNames.h"

namespace quil {
namespace {

constexpr DWORD kWatchThreadEndWait = 5000;

}  // namespace

CQuilServerVirtChannel::CQuilServerVirtChannel(const wchar_t* ownerName)
    : stopEvent_(CreateEventW(nullptr, FALSE, FALSE, nullptr)), ownerName_(ownerName) {}

CQuilServerVirtChannel::~CQuilServerVirtChannel() { Close(); }

std::wstring CQuilServerVirtChannel::DisconnectEventName(const std::wstring& ownerName, DWORD sessionId) {
  return ChannelDisconnectEventName(ownerName, sessionId);
}

bool CQuilServerVirtChannel::Open(DWORD sessionId, const char* channelName) {
  if (channel_ || watchThread_) return false;
  sessionId_ = sessionId;
  closedByWatch_ = false;
  channel_ = WTSVirtualChannelOpen(WTS_CURRENT_SERVER_HANDLE, sessionId, const_cast<LPSTR>(channelName));
  if (!channel_) return false;
  watchThread_.reset(CreateThread(nullptr, 0, &CQuilServerVirtChannel::WatchThread, this, 0, nullptr));
  return true;
}

bool CQuilServerVirtChannel::Write(const void* message, DWORD length) {
  if (!channel_) return false;
  ULONG written = 0;
  return WTSVirtualChannelWrite(channel_, static_cast<PCHAR>(const_cast<void*>(message)), length, &written) != FALSE;
}

bool CQuilServerVirtChannel::Read(std::vector<uint8_t>& message) {
  message.clear();
  if (!channel_) return false;
  CQuilMessageAssembler assembler(CQuilMessageAssembler::StartRule::kWhenIdle, kMaxReplySize);
  std::vector<uint8_t> chunkBuffer(ChannelChunkLayout::kMaxChunkSize);
  for (;;) {
    ULONG bytesRead = 0;
    if (!WTSVirtualChannelRead(channel_, INFINITE, reinterpret_cast<PCHAR>(chunkBuffer.data()),
                               static_cast<ULONG>(chunkBuffer.size()), &bytesRead)) {
      return false;
    }
    const auto chunk = ParseChannelChunk(std::span(chunkBuffer).first(std::min<size_t>(bytesRead, chunkBuffer.size())));
    if (!chunk) return false;
    switch (assembler.AddChunk(chunk->data, chunk->totalLength, chunk->flags)) {
      case CQuilMessageAssembler::Result::kNeedMore:
        continue;
      case CQuilMessageAssembler::Result::kComplete:
        message = assembler.TakeMessage();
        return true;
      case CQuilMessageAssembler::Result::kRefused:
        return false;
    }
  }
}

bool CQuilServerVirtChannel::Close() {
  if (!channel_) return false;
  SetEvent(stopEvent_.get());
  if (watchThread_) {
    if (WaitForSingleObject(watchThread_.get(), kWatchThreadEndWait) != WAIT_OBJECT_0) {
      TerminateThread(watchThread_.get(), 0);
    }
    watchThread_.reset();
  }
  if (!closedByWatch_) WTSVirtualChannelClose(channel_);
  channel_ = nullptr;
  return true;
}

DWORD WINAPI CQuilServerVirtChannel::WatchThread(LPVOID self) {
  static_cast<CQuilServerVirtChannel*>(self)->CheckDisconnect();
  return 0;
}

void CQuilServerVirtChannel::CheckDisconnect() {
  const std::wstring name = DisconnectEventName(ownerName_, sessionId_);
  UniqueHandle disconnect(CreateEventW(nullptr, FALSE, FALSE, name.c_str()));
  const HANDLE events[] = {disconnect.get(), stopEvent_.get()};
  switch (WaitForMultipleObjects(2, events, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
      WTSVirtualChannelClose(channel_);
      closedByWatch_ = true;
      Log(L"CQuilServerVirtChannel::CheckDisconnect - close channel");
      break;
    case WAIT_OBJECT_0 + 1:
      Log(L"CQuilServerVirtChannel::CheckDisconnect - break");
      break;
    default:
      break;
  }
}

}  // namespace quil
