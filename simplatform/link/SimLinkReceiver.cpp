#include "SimLinkReceiver.h"

#include <array>

namespace sim {
namespace {

// What an unfinished read means for the link, inside a frame or between frames.
SimLinkEnd EndOfRead(ReceiveResult result, bool betweenFrames) {
  switch (result) {
    case ReceiveResult::kClosed: return betweenFrames ? SimLinkEnd::kClosed : SimLinkEnd::kTruncatedFrame;
    case ReceiveResult::kCut: return SimLinkEnd::kTruncatedFrame;
    case ReceiveResult::kStopped: return SimLinkEnd::kStopped;
    default: return SimLinkEnd::kFailed;
  }
}

}  // namespace

SimLinkReceiver::SimLinkReceiver(UniqueSocket socket, Target target)
    : target_(std::move(target)),
      socket_(std::move(socket)),
      reader_(socket_.get()),
      ended_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  if (reader_.Ready()) thread_.reset(CreateThread(nullptr, 0, &ReceiveThread, this, 0, nullptr));
  if (!thread_) End(SimLinkEnd::kFailed);
}

SimLinkReceiver::~SimLinkReceiver() {
  reader_.Stop();
  if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
}

SimLinkEnd SimLinkReceiver::WaitForEnd(DWORD timeoutMs) {
  WaitForSingleObject(ended_.get(), timeoutMs);
  Guard hold(lock_);
  return end_;
}

uint64_t SimLinkReceiver::ReceivedBytes() {
  Guard hold(lock_);
  return received_;
}

DWORD WINAPI SimLinkReceiver::ReceiveThread(LPVOID receiver) {
  auto* self = static_cast<SimLinkReceiver*>(receiver);
  self->End(self->Receive());
  return 0;
}

// Runs on the receiving thread once it has stopped reading, or in the constructor if the thread
// never started: nothing else reads the socket then. Shutting the connection down tells the peer
// that the link ended, also where another handle to the socket stays open.
void SimLinkReceiver::End(SimLinkEnd end) {
  shutdown(socket_.get(), SD_BOTH);
  socket_.reset();
  {
    Guard hold(lock_);
    end_ = end;
  }
  SetEvent(ended_.get());
}

SimLinkEnd SimLinkReceiver::Receive() {
  std::array<uint8_t, SimLinkFrameLayout::kHeaderSize> headerBytes;
  std::array<uint8_t, SimLinkFrameLayout::kMaxDataSize> data;
  for (;;) {
    const ReceiveResult headerRead = reader_.ReadExactly(headerBytes);
    if (headerRead != ReceiveResult::kComplete) return EndOfRead(headerRead, true);
    const SimLinkFrameHeader header = DecodeFrameHeader(headerBytes);
    if (const auto fault = FindHeaderFault(header)) return *fault;
    const std::span<uint8_t> chunk(data.data(), header.dataLength);
    const ReceiveResult dataRead = reader_.ReadExactly(chunk);
    if (dataRead != ReceiveResult::kComplete) return EndOfRead(dataRead, false);
    {
      Guard hold(lock_);
      received_ += headerBytes.size() + chunk.size();
    }
    target_(header.sessionId, std::string(header.channelName.begin(), header.channelName.end()),
            header.totalLength, header.flags, chunk);
  }
}

}  // namespace sim
