#include "BenchLink.h"

#include "E2eLinkSocket.h"
#include "MessageCodes.h"
#include "SimChunks.h"
#include "SimLinkFrame.h"
#include "PageCompression.h"
#include "SimVirtualChannels.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"

namespace quil::bench {
namespace {

constexpr DWORD kAcceptWaitMs = 5000;
constexpr DWORD kAcknowledgementWaitMs = 60000;

}  // namespace

std::optional<LinkEnds> ConnectLink(sim::SimLinkShape shape) {
  uint16_t port = 0;
  const sim::UniqueSocket listener = sim::ListenOnLoopback(port);
  if (!listener) return std::nullopt;
  LinkEnds ends;
  ends.shape = shape;
  ends.clientSend = sim::ConnectToLoopback(port);
  if (!ends.clientSend) return std::nullopt;
  ends.serverSend = sim::AcceptConnection(listener.get(), kAcceptWaitMs);
  if (!ends.serverSend) return std::nullopt;
  ends.clientReceive = sim::DuplicateSocket(ends.clientSend.get());
  ends.serverReceive = sim::DuplicateSocket(ends.serverSend.get());
  if (!ends.clientReceive || !ends.serverReceive) return std::nullopt;
  return ends;
}

AckingSpoolClient::AckingSpoolClient(sim::UniqueSocket send, sim::UniqueSocket receive, DWORD sessionId,
                                     sim::SimLinkShape shape)
    : sessionId_(sessionId),
      toServer_(std::move(send), shape),
      fromServer_(std::move(receive), [this](DWORD, const std::string& channelName, uint32_t totalLength,
                                             uint32_t flags, std::span<const uint8_t> data) {
        OnChunk(channelName, totalLength, flags, data);
      }) {}

AckingSpoolClient::Counts AckingSpoolClient::Received() {
  sim::Guard hold(lock_);
  return counts_;
}

void AckingSpoolClient::OnChunk(const std::string& channelName, uint32_t totalLength, uint32_t flags,
                                std::span<const uint8_t> data) {
  std::vector<uint8_t> answer;
  {
    sim::Guard hold(lock_);
    if (channelName != kSpoolChannel || ((flags & sim::kChunkFirst) != 0) == inMessage_) {
      ++counts_.faults;
      return;
    }
    if (flags & sim::kChunkFirst) {
      code_ = ReadMessageCode(data).value_or(0xFFFFFFFF);
      messageBytes_ = 0;
      inMessage_ = true;
    }
    messageBytes_ += data.size();
    counts_.bytes += data.size();
    if (!(flags & sim::kChunkLast)) return;
    inMessage_ = false;
    ++counts_.messages;
    if (messageBytes_ != totalLength) ++counts_.faults;
    switch (code_) {
      case MSG_START_DOC: answer = BuildJobStartAck(); break;
      case MSG_PAGE:
        ++counts_.pages;
        answer = BuildPageAck();
        break;
      case MSG_END_DOC: answer = BuildJobEndAck(); break;
      default: ++counts_.faults; return;
    }
  }
  toServer_.Deliver(sessionId_, kSpoolChannel, std::move(answer));
}

void DirectAckingClient::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  const uint32_t code = ReadMessageCode(message).value_or(0xFFFFFFFF);
  std::vector<uint8_t> answer;
  {
    sim::Guard hold(lock_);
    ++counts_.messages;
    counts_.bytes += message.size();
    if (channelName != kSpoolChannel) {
      ++counts_.faults;
      return;
    }
    switch (code) {
      case MSG_START_DOC: answer = capabilities_ ? BuildJobStartAck(capabilities_) : BuildJobStartAck(); break;
      case MSG_PAGE:
        ++counts_.pages;
        answer = BuildPageAck();
        break;
      case MSG_COMPRESSED_PAGE:
        ++counts_.pages;
        answer = BuildCompressedPageAck();
        break;
      case MSG_PAGE_SETTINGS: answer = BuildPageSettingsAck(); break;
      case MSG_END_DOC: answer = BuildJobEndAck(); break;
      default: ++counts_.faults; return;
    }
  }
  // The message is dropped before the answer goes out, as a client that has played it would.
  std::vector<uint8_t>().swap(message);
  sim::SimVirtualChannels::Instance().SendToServer(sessionId, channelName, answer);
}

AckingSpoolClient::Counts DirectAckingClient::Received() {
  sim::Guard hold(lock_);
  return counts_;
}

namespace {

// Whether the chunk is a whole job-start acknowledgement that announces the extension.
bool IsExtendedJobStartAck(const std::string& channelName, uint32_t flags, std::span<const uint8_t> data) {
  const uint32_t whole = sim::kChunkFirst | sim::kChunkLast;
  return channelName == kSpoolChannel && (flags & whole) == whole && ParseJobStartAck(data) != 0;
}

}  // namespace

ServerLinkEnd::ServerLinkEnd(sim::UniqueSocket send, sim::UniqueSocket receive, DWORD sessionId,
                             sim::SimLinkShape shape, Protocol protocol)
    : sessionId_(sessionId),
      toClient_(std::move(send), shape),
      fromClient_(std::move(receive), [sessionId, protocol](DWORD, const std::string& channelName,
                                                            uint32_t totalLength, uint32_t flags,
                                                            std::span<const uint8_t> data) {
        std::vector<uint8_t> chunk(data.begin(), data.end());
        if (protocol == Protocol::kOriginal && IsExtendedJobStartAck(channelName, flags, data)) {
          chunk = BuildJobStartAck();
          totalLength = static_cast<uint32_t>(chunk.size());
        }
        sim::SimVirtualChannels::Instance().SendChunkToServer(sessionId, channelName, totalLength, flags,
                                                              std::move(chunk));
      }) {
  sim::SimVirtualChannels::Instance().SetClient(sessionId_, &toClient_);
}

ServerLinkEnd::~ServerLinkEnd() { sim::SimVirtualChannels::Instance().SetClient(sessionId_, nullptr); }

PlainSender::PlainSender(sim::UniqueSocket send, sim::UniqueSocket receive, DWORD sessionId,
                         sim::SimLinkShape shape)
    : sessionId_(sessionId),
      toClient_(std::move(send), shape),
      acknowledged_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
      acknowledgements_(std::move(receive), [this](DWORD, const std::string&, uint32_t, uint32_t flags,
                                                   std::span<const uint8_t>) {
        if (flags & sim::kChunkLast) SetEvent(acknowledged_.get());
      }) {}

bool PlainSender::Exchange(std::span<const uint8_t> message) {
  return toClient_.Send(sessionId_, kSpoolChannel, message) &&
         WaitForSingleObject(acknowledged_.get(), kAcknowledgementWaitMs) == WAIT_OBJECT_0;
}

}  // namespace quil::bench
