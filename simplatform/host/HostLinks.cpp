#include "HostLinks.h"

#include "E2eLinkSocket.h"
#include "HostJobs.h"
#include "SimChunks.h"
#include "SimLinkFrame.h"
#include "SimVirtualChannels.h"

namespace sim::host {
namespace {

constexpr DWORD kHelloWaitMs = 5000;
constexpr DWORD kSendWaitMs = 30000;
constexpr char kSpoolChannel[] = "QSpl";

}  // namespace

HostLinkSink::HostLinkSink(UniqueSocket socket, SimLinkShape shape)
    : sender_(std::make_unique<SimLinkSender>(std::move(socket), shape, kSendWaitMs)) {}

void HostLinkSink::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  DeliverWritten(sessionId, channelName, message);
}

// Sent under the lock, so that Close waits for a message under way.
void HostLinkSink::DeliverWritten(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message) {
  {
    Guard guard(lock_);
    if (!sender_ || !sender_->Send(sessionId, channelName, message)) return;
  }
  if (channelName == kSpoolChannel) SpoolTraffic::Instance().Sent(message);
}

void HostLinkSink::Close() {
  Guard guard(lock_);
  sender_.reset();
}

uint64_t HostLinkSink::SentBytes() {
  Guard guard(lock_);
  return sender_ ? sender_->SentBytes() : 0;
}

void HostLinks::Accept(UniqueSocket connection) {
  if (!connection) return;
  const auto hello = ReceiveClientHello(connection.get(), kHelloWaitMs);
  if (!hello) return;
  UniqueSocket sending = DuplicateSocket(connection.get());
  if (!sending) return;
  Link link{hello->linkProfile, hello->shape, std::make_unique<HostLinkSink>(std::move(sending), hello->shape),
            nullptr};
  const DWORD session = hello->sessionId;
  link.receiver = std::make_unique<SimLinkReceiver>(
      std::move(connection), [session](DWORD, const std::string& channel, uint32_t total, uint32_t flags,
                                       std::span<const uint8_t> data) {
        // An answer whole in one chunk, as a font query's is, is noted before the server reads it.
        if (channel == kSpoolChannel && data.size() == total) SpoolTraffic::Instance().Answered(data);
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

std::optional<HostLinkFigures> HostLinks::Figures(DWORD sessionId) {
  Guard guard(lock_);
  const auto found = links_.find(sessionId);
  if (found == links_.end()) return std::nullopt;
  const Link& link = found->second;
  return HostLinkFigures{link.profile, link.shape, link.sink->SentBytes(), link.receiver->ReceivedBytes()};
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
