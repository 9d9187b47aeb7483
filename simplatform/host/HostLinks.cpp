#include "HostLinks.h"

#include "E2eLinkSocket.h"
#include "HostJobs.h"
#include "MessageCodes.h"
#include "SimChunks.h"
#include "SimLinkFrame.h"
#include "SimVirtualChannels.h"

namespace sim::host {
namespace {

constexpr DWORD kSessionIdWaitMs = 5000;
constexpr DWORD kSendWaitMs = 30000;
constexpr char kSpoolChannel[] = "QSpl";

bool WaitUntilWritable(SOCKET socket) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(socket, &writable);
  timeval timeout{kSendWaitMs / 1000, 0};
  return select(0, nullptr, &writable, nullptr, &timeout) == 1;
}

// Sends every byte, waiting while a non-blocking connection's buffer is full.
bool SendWaiting(SOCKET socket, const uint8_t* bytes, size_t size) {
  while (size > 0) {
    const int sent = send(socket, reinterpret_cast<const char*>(bytes), static_cast<int>(size), 0);
    if (sent > 0) {
      bytes += sent;
      size -= static_cast<size_t>(sent);
    } else if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK || !WaitUntilWritable(socket)) {
      return false;
    }
  }
  return true;
}

}  // namespace

HostLinkSink::HostLinkSink(UniqueSocket socket) : socket_(std::move(socket)) {}

void HostLinkSink::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  const auto name = KnownChannelName(channelName);
  if (!name) return;
  {
    Guard guard(lock_);
    if (!socket_ || !SendFrames(sessionId, *name, message)) return;
  }
  if (channelName == kSpoolChannel && quil::IsMessage(message, quil::MSG_PAGE)) SpoolPageCounter::Instance().PageSent();
}

// The frames of one message go out together: the lock keeps other messages from interleaving.
bool HostLinkSink::SendFrames(DWORD sessionId, const SimLinkChannelName& name, const std::vector<uint8_t>& message) {
  for (const SimChunk& chunk : SplitIntoChunks(message)) {
    const auto header = EncodeFrameHeader({sessionId, name, static_cast<uint32_t>(message.size()), chunk.flags,
                                           static_cast<uint32_t>(chunk.data.size())});
    if (!SendWaiting(socket_.get(), header.data(), header.size()) ||
        !SendWaiting(socket_.get(), chunk.data.data(), chunk.data.size())) {
      // The receiver's handle keeps the connection open: shutting the sending side down lets the
      // peer see the frame cut short; nothing more is sent.
      shutdown(socket_.get(), SD_SEND);
      socket_.reset();
      return false;
    }
  }
  return true;
}

void HostLinkSink::Close() {
  Guard guard(lock_);
  socket_.reset();
}

void HostLinks::Accept(UniqueSocket connection) {
  if (!connection) return;
  const auto sessionId = ReceiveSessionId(connection.get(), kSessionIdWaitMs);
  if (!sessionId) return;
  UniqueSocket sending = DuplicateSocket(connection.get());
  if (!sending) return;
  Link link{std::make_unique<HostLinkSink>(std::move(sending)), nullptr};
  const DWORD session = *sessionId;
  link.receiver = std::make_unique<SimLinkReceiver>(
      std::move(connection), [session](DWORD, const std::string& channel, uint32_t total, uint32_t flags,
                                       std::span<const uint8_t> data) {
        SimVirtualChannels::Instance().SendChunkToServer(session, channel, total, flags,
                                                         std::vector<uint8_t>(data.begin(), data.end()));
      });
  Guard guard(lock_);
  Retire(session);
  SimVirtualChannels::Instance().SetClient(session, link.sink.get());
  links_.emplace(session, std::move(link));
}

void HostLinks::RetireEnded() {
  Guard guard(lock_);
  std::vector<DWORD> ended;
  for (const auto& [session, link] : links_) {
    if (link.receiver->WaitForEnd(0) != SimLinkEnd::kRunning) ended.push_back(session);
  }
  for (DWORD session : ended) Retire(session);
}

bool HostLinks::HasClient(DWORD sessionId) {
  Guard guard(lock_);
  return links_.count(sessionId) != 0;
}

std::vector<DWORD> HostLinks::Clients() {
  Guard guard(lock_);
  std::vector<DWORD> sessions;
  for (const auto& [session, link] : links_) sessions.push_back(session);
  return sessions;
}

void HostLinks::Retire(DWORD sessionId) {
  auto found = links_.find(sessionId);
  if (found == links_.end()) return;
  SimVirtualChannels::Instance().SetClient(sessionId, nullptr);
  found->second.sink->Close();
  retiredSinks_.push_back(std::move(found->second.sink));
  links_.erase(found);  // stops the receiver and closes its handle
}

}  // namespace sim::host
