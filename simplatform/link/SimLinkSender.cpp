#include "SimLinkSender.h"

#include "SimChunks.h"
#include "SimLinkFrame.h"

namespace sim {

SimLinkSender::SimLinkSender(UniqueSocket socket) : socket_(std::move(socket)) {}

void SimLinkSender::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  const auto name = KnownChannelName(channelName);
  Guard hold(lock_);
  if (!name || failed_) {
    ++dropped_;
    return;
  }
  std::vector<uint8_t> frame;
  frame.reserve(SimLinkFrameLayout::kHeaderSize + SimLinkFrameLayout::kMaxDataSize);
  for (const SimChunk& chunk : SplitIntoChunks(message)) {
    const SimLinkFrameHeader header{sessionId, *name, static_cast<uint32_t>(message.size()), chunk.flags,
                                    static_cast<uint32_t>(chunk.data.size())};
    const auto headerBytes = EncodeFrameHeader(header);
    frame.assign(headerBytes.begin(), headerBytes.end());
    frame.insert(frame.end(), chunk.data.begin(), chunk.data.end());
    if (!SendAll(socket_.get(), frame)) {
      shutdown(socket_.get(), SD_SEND);
      failed_ = true;
      ++dropped_;
      return;
    }
  }
}

size_t SimLinkSender::DroppedMessages() {
  Guard hold(lock_);
  return dropped_;
}

}  // namespace sim
