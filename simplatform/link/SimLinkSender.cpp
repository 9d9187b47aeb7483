#include "SimLinkSender.h"

#include "SimChunks.h"
#include "SimLinkFrame.h"

namespace sim {

SimLinkSender::SimLinkSender(UniqueSocket socket, DWORD sendWaitMs)
    : socket_(std::move(socket)), sendWaitMs_(sendWaitMs) {}

// The frames go out in batches of about kBatchSize bytes: one send per frame made the loopback
// link, not the code under test, the slowest part of every long job.
void SimLinkSender::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  Send(sessionId, channelName, message);
}

bool SimLinkSender::Send(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message) {
  constexpr size_t kBatchSize = 64 * 1024;
  const auto name = KnownChannelName(channelName);
  Guard hold(lock_);
  if (!name || failed_) {
    ++dropped_;
    return false;
  }
  std::vector<uint8_t> batch;
  batch.reserve(kBatchSize + SimLinkFrameLayout::kHeaderSize + SimLinkFrameLayout::kMaxDataSize);
  const std::vector<SimChunk> chunks = SplitIntoChunks(message);
  for (size_t i = 0; i < chunks.size(); ++i) {
    const SimLinkFrameHeader header{sessionId, *name, static_cast<uint32_t>(message.size()), chunks[i].flags,
                                    static_cast<uint32_t>(chunks[i].data.size())};
    const auto headerBytes = EncodeFrameHeader(header);
    batch.insert(batch.end(), headerBytes.begin(), headerBytes.end());
    batch.insert(batch.end(), chunks[i].data.begin(), chunks[i].data.end());
    if (batch.size() < kBatchSize && i + 1 < chunks.size()) continue;
    if (!SendAll(socket_.get(), batch, sendWaitMs_)) {
      shutdown(socket_.get(), SD_SEND);
      failed_ = true;
      ++dropped_;
      return false;
    }
    batch.clear();
  }
  return true;
}

size_t SimLinkSender::DroppedMessages() {
  Guard hold(lock_);
  return dropped_;
}

}  // namespace sim
