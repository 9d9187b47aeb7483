#include "SendWindow.h"

#include "MessageCodes.h"

namespace quil {

bool CQuilSendWindow::Send(std::span<const uint8_t> message) {
  std::vector<uint8_t> answer;
  if (!windowed_) return Exchange(message, answer);
  while (!inFlight_.empty() && inFlightBytes_ + message.size() > kWindowBytes) {
    if (!AcknowledgeOldest(answer)) return false;
  }
  return Write(message);
}

bool CQuilSendWindow::Exchange(std::span<const uint8_t> message, std::vector<uint8_t>& answer) {
  return Drain() && Write(message) && AcknowledgeOldest(answer);
}

bool CQuilSendWindow::Drain() {
  std::vector<uint8_t> answer;
  while (!inFlight_.empty()) {
    if (!AcknowledgeOldest(answer)) return false;
  }
  return true;
}

bool CQuilSendWindow::Write(std::span<const uint8_t> message) {
  if (!channel_.Write(message.data(), static_cast<DWORD>(message.size()))) return false;
  inFlight_.push_back({ReadMessageCode(message).value_or(UINT32_MAX), message.size()});
  inFlightBytes_ += message.size();
  return true;
}

bool CQuilSendWindow::AcknowledgeOldest(std::vector<uint8_t>& answer) {
  const InFlight oldest = inFlight_.front();
  inFlight_.pop_front();
  inFlightBytes_ -= oldest.size;
  if (!channel_.Read(answer)) return false;
  return !windowed_ || IsMessage(answer, oldest.code);
}

}  // namespace quil
