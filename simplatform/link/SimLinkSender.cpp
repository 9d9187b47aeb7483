#include "SimLinkSender.h"

namespace sim {
namespace {

void AppendFrame(std::vector<uint8_t>& out, SimLinkFrameHeader header, const SimChunk& chunk) {
  header.flags = chunk.flags;
  header.dataLength = static_cast<uint32_t>(chunk.data.size());
  const auto headerBytes = EncodeFrameHeader(header);
  out.insert(out.end(), headerBytes.begin(), headerBytes.end());
  out.insert(out.end(), chunk.data.begin(), chunk.data.end());
}

}  // namespace

SimLinkSender::SimLinkSender(UniqueSocket socket, SimLinkShape shape, DWORD sendWaitMs)
    : socket_(std::move(socket)), sendWaitMs_(sendWaitMs) {
  if (shape.Shaped()) shaper_ = std::make_unique<SimLinkShaper>(socket_.get(), shape, sendWaitMs);
}

void SimLinkSender::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  Send(sessionId, channelName, message);
}

bool SimLinkSender::Send(DWORD sessionId, const std::string& channelName, std::span<const uint8_t> message) {
  const auto name = KnownChannelName(channelName);
  Guard hold(lock_);
  if (!name || failed_) {
    ++dropped_;
    return false;
  }
  const Frames frames{{sessionId, *name, static_cast<uint32_t>(message.size()), 0, 0}, SplitIntoChunks(message)};
  if (shaper_ ? SendShaped(frames) : SendAtOnce(frames)) return true;
  failed_ = true;
  ++dropped_;
  return false;
}

// The frames go out in batches of about kBatchSize bytes: one send per frame made the loopback
// link, not the code under test, the slowest part of every long job.
bool SimLinkSender::SendAtOnce(const Frames& frames) {
  constexpr size_t kBatchSize = 64 * 1024;
  std::vector<uint8_t> batch;
  batch.reserve(kBatchSize + SimLinkFrameLayout::kHeaderSize + SimLinkFrameLayout::kMaxDataSize);
  for (size_t i = 0; i < frames.chunks.size(); ++i) {
    AppendFrame(batch, frames.header, frames.chunks[i]);
    if (batch.size() < kBatchSize && i + 1 < frames.chunks.size()) continue;
    if (!SendAll(socket_.get(), batch, sendWaitMs_)) {
      shutdown(socket_.get(), SD_SEND);
      return false;
    }
    {
      Guard count(countLock_);
      sentBytes_ += batch.size();
    }
    batch.clear();
  }
  return true;
}

bool SimLinkSender::SendShaped(const Frames& frames) {
  for (const SimChunk& chunk : frames.chunks) {
    std::vector<uint8_t> frame;
    frame.reserve(SimLinkFrameLayout::kHeaderSize + chunk.data.size());
    AppendFrame(frame, frames.header, chunk);
    if (!shaper_->Write(std::move(frame))) return false;
  }
  return true;
}

size_t SimLinkSender::DroppedMessages() {
  Guard hold(lock_);
  return dropped_;
}

uint64_t SimLinkSender::SentBytes() {
  if (shaper_) return shaper_->WrittenBytes();
  Guard count(countLock_);
  return sentBytes_;
}

}  // namespace sim
