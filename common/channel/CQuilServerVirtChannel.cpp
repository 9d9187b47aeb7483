#include "CQuilServerVirtChannel.h"

#include <wtsapi32.h>

#include <algorithm>
#include <span>

#include "ChannelChunk.h"
#include "MessageAssembler.h"
#include "QuilLog.h"
#include "SessionEventNames.h"
#include "SessionEvents.h"

namespace quil {
namespace {

// How often a waiting read looks at the disconnect and release events.
constexpr ULONG kReadSlice = 100;  // ms

DWORD g_answerWait = CQuilServerVirtChannel::kAnswerWait;

bool Signalled(HANDLE event) { return event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

CQuilServerVirtChannel::CQuilServerVirtChannel(const wchar_t* ownerName, HANDLE releaseEvent)
    : releaseEvent_(releaseEvent), ownerName_(ownerName) {}

CQuilServerVirtChannel::~CQuilServerVirtChannel() { Close(); }

std::wstring CQuilServerVirtChannel::DisconnectEventName(const std::wstring& ownerName, DWORD sessionId) {
  return ChannelDisconnectEventName(ownerName, sessionId);
}

void CQuilServerVirtChannel::SetAnswerWaitForTests(DWORD milliseconds) {
  g_answerWait = milliseconds ? milliseconds : kAnswerWait;
}

bool CQuilServerVirtChannel::Open(DWORD sessionId, const char* channelName) {
  if (channel_) return false;
  gone_ = false;
  disconnectEvent_ = CreateSessionEvent(DisconnectEventName(ownerName_, sessionId));
  channel_ = WTSVirtualChannelOpen(WTS_CURRENT_SERVER_HANDLE, sessionId, const_cast<LPSTR>(channelName));
  if (!channel_) disconnectEvent_.reset();
  return channel_ != nullptr;
}

bool CQuilServerVirtChannel::Write(const void* message, DWORD length) {
  if (!channel_ || CheckDisconnect()) return false;
  ULONG written = 0;
  return WTSVirtualChannelWrite(channel_, static_cast<PCHAR>(const_cast<void*>(message)), length, &written) != FALSE;
}

bool CQuilServerVirtChannel::Read(std::vector<uint8_t>& message) {
  message.clear();
  if (!channel_ || CheckDisconnect()) return false;
  CQuilMessageAssembler assembler(CQuilMessageAssembler::StartRule::kWhenIdle, kMaxReplySize);
  std::vector<uint8_t> chunkBuffer(ChannelChunkLayout::kMaxChunkSize);
  const ULONGLONG deadline = GetTickCount64() + g_answerWait;
  for (;;) {
    ULONG bytesRead = 0;
    if (!ReadChunk(chunkBuffer, bytesRead, deadline)) return false;
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

// A read that times out fails with ERROR_IO_INCOMPLETE; one that returns no bytes is a slice
// without data as well.
bool CQuilServerVirtChannel::ReadChunk(std::vector<uint8_t>& buffer, ULONG& bytesRead, ULONGLONG deadline) {
  for (;;) {
    bytesRead = 0;
    const BOOL read = WTSVirtualChannelRead(channel_, kReadSlice, reinterpret_cast<PCHAR>(buffer.data()),
                                            static_cast<ULONG>(buffer.size()), &bytesRead);
    if (read && bytesRead > 0) return true;
    if (!read && GetLastError() != ERROR_IO_INCOMPLETE) return false;
    if (CheckDisconnect()) return false;
    if (GetTickCount64() >= deadline) {
      Log(L"CQuilServerVirtChannel::Read - no answer within %u ms", g_answerWait);
      gone_ = true;
      return false;
    }
  }
}

bool CQuilServerVirtChannel::Close() {
  if (!channel_) return false;
  WTSVirtualChannelClose(channel_);
  channel_ = nullptr;
  disconnectEvent_.reset();
  return true;
}

bool CQuilServerVirtChannel::CheckDisconnect() {
  if (gone_) return true;
  if (Signalled(disconnectEvent_.get())) {
    Log(L"CQuilServerVirtChannel::CheckDisconnect - disconnected");
    gone_ = true;
  } else if (Signalled(releaseEvent_)) {
    Log(L"CQuilServerVirtChannel::CheckDisconnect - released");
    gone_ = true;
  }
  return gone_;
}

}  // namespace quil
