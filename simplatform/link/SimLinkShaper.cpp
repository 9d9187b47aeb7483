#include "SimLinkShaper.h"

#include <algorithm>
#include <cmath>

#include "SimSocket.h"

namespace sim {
namespace {

// Seconds on the performance counter's clock.
double Now() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// A wait of at least 1 ms that does not end before `seconds` have passed.
DWORD WaitMs(double seconds) { return static_cast<DWORD>(std::max(1.0, std::ceil(seconds * 1000))); }

}  // namespace

// Besides the send buffer, the queue holds the frames on their way (the rate times the delay) and
// those due that the thread has not written yet: another send buffer and kLateSeconds' worth.
SimLinkShaper::SimLinkShaper(SOCKET socket, SimLinkShape shape, DWORD sendWaitMs)
    : socket_(socket),
      shape_(shape),
      sendWaitMs_(sendWaitMs),
      queueBound_(2 * kSendBuffer +
                  static_cast<size_t>(static_cast<double>(shape.bytesPerSecond) * (shape.delayMs / 1000.0 + kLateSeconds))) {
  InitializeConditionVariable(&changed_);
  thread_.reset(CreateThread(nullptr, 0, &DeliveryThread, this, 0, nullptr));
  failed_ = !thread_;
}

SimLinkShaper::~SimLinkShaper() {
  if (!thread_) return;
  {
    Guard hold(lock_);
    stopping_ = true;
  }
  WakeAllConditionVariable(&changed_);
  WaitForSingleObject(thread_.get(), INFINITE);
}

bool SimLinkShaper::Write(std::vector<uint8_t> frame) {
  bool wasEmpty = false;
  {
    Guard hold(lock_);
    for (;;) {
      if (failed_) return false;
      const DWORD waitMs = WaitForRoom(frame.size(), Now());
      if (waitMs == 0) break;
      SleepConditionVariableCS(&changed_, lock_.Native(), waitMs);
    }
    const double now = Now();
    lineFreeAt_ = std::max(lineFreeAt_, now - kBurstSeconds) + static_cast<double>(frame.size()) / shape_.bytesPerSecond;
    queued_ += frame.size();
    wasEmpty = queue_.empty();
    queue_.push_back({std::max(lineFreeAt_, now) + shape_.delayMs / 1000.0, std::move(frame)});
  }
  // A frame behind others is due after them: the thread already waits for the first.
  if (wasEmpty) WakeAllConditionVariable(&changed_);
  return true;
}

uint64_t SimLinkShaper::WrittenBytes() {
  Guard hold(lock_);
  return written_;
}

DWORD SimLinkShaper::WaitForRoom(size_t size, double now) const {
  const double rate = static_cast<double>(shape_.bytesPerSecond);
  const double untransmitted = std::max(0.0, lineFreeAt_ - now) * rate;
  const double excess = untransmitted + static_cast<double>(size) - static_cast<double>(kSendBuffer);
  if (excess > 0) return WaitMs(excess / rate);
  if (queued_ != 0 && queued_ + size > queueBound_) return INFINITE;  // until the thread writes
  return 0;
}

DWORD WINAPI SimLinkShaper::DeliveryThread(LPVOID shaper) {
  static_cast<SimLinkShaper*>(shaper)->Deliver();
  return 0;
}

void SimLinkShaper::Deliver() {
  for (std::vector<uint8_t> batch; !(batch = TakeDueFrames()).empty();) {
    const bool sent = SendAll(socket_, batch, sendWaitMs_);
    if (!sent) shutdown(socket_, SD_SEND);  // the peer sees the frame cut short
    {
      Guard hold(lock_);
      queued_ -= batch.size();
      if (sent) {
        written_ += batch.size();
      } else {
        failed_ = true;
        queue_.clear();
        queued_ = 0;
      }
    }
    WakeAllConditionVariable(&changed_);
    if (!sent) return;
  }
}

std::vector<uint8_t> SimLinkShaper::TakeDueFrames() {
  Guard hold(lock_);
  for (;;) {
    if (queue_.empty() && stopping_) return {};
    const double now = Now();
    if (!queue_.empty() && queue_.front().due <= now) break;
    const DWORD waitMs = queue_.empty() ? INFINITE : WaitMs(queue_.front().due - now);
    SleepConditionVariableCS(&changed_, lock_.Native(), waitMs);
  }
  std::vector<uint8_t> batch;
  for (const double now = Now(); !queue_.empty() && queue_.front().due <= now; queue_.pop_front()) {
    batch.insert(batch.end(), queue_.front().bytes.begin(), queue_.front().bytes.end());
  }
  return batch;
}

}  // namespace sim
