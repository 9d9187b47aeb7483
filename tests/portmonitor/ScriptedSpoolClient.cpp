#include "ScriptedSpoolClient.h"

#include "MessageCodes.h"
#include "PageCompression.h"
#include "SimVirtualChannels.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"

namespace quil::test {
namespace {

constexpr const char* kSpoolChannel = "QSpl";

}  // namespace

void ScriptedSpoolClient::Announce(uint32_t capabilities) {
  sim::Guard guard(lock_);
  capabilities_ = capabilities;
}

void ScriptedSpoolClient::StayQuiet() {
  sim::Guard guard(lock_);
  quiet_ = true;
}

void ScriptedSpoolClient::FailAt(size_t index) {
  sim::Guard guard(lock_);
  failAt_ = index;
}

void ScriptedSpoolClient::HoldAt(size_t index) {
  sim::Guard guard(lock_);
  holdAt_ = index;
}

// The held answers go out under the lock, so that no answer to a later message overtakes them.
void ScriptedSpoolClient::Release() {
  sim::Guard guard(lock_);
  for (const Held& answer : held_) Answer(answer.sessionId, answer.code, false);
  held_.clear();
  holdAt_.reset();
}

void ScriptedSpoolClient::KeepNoBytes() {
  sim::Guard guard(lock_);
  keepBytes_ = false;
}

std::vector<ReceivedMessage> ScriptedSpoolClient::Received() {
  sim::Guard guard(lock_);
  return received_;
}

size_t ScriptedSpoolClient::ReceivedCount() {
  sim::Guard guard(lock_);
  return received_.size();
}

uint32_t ScriptedSpoolClient::Checksum(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 2166136261u;  // FNV-1a
  for (uint8_t byte : bytes) sum = (sum ^ byte) * 16777619u;
  return sum;
}

void ScriptedSpoolClient::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  if (channelName != kSpoolChannel) return;
  ReceivedMessage received;
  received.sessionId = sessionId;
  received.code = ReadMessageCode(message).value_or(0xFFFFFFFF);
  received.size = message.size();
  received.checksum = Checksum(message);
  const uint32_t code = received.code;
  received.previousAnswerRead = sim::SimVirtualChannels::Instance().UnreadChunks(sessionId, kSpoolChannel) == 0;
  bool answer = false;
  bool fail = false;
  {
    sim::Guard guard(lock_);
    if (keepBytes_) received.bytes = std::move(message);
    const size_t index = received_.size();
    received_.push_back(std::move(received));
    fail = failAt_ == index;
    if (holdAt_ && index >= *holdAt_) {
      held_.push_back(Held{sessionId, code});
    } else {
      answer = !quiet_;
    }
  }
  SetEvent(arrived_.get());
  if (answer) Answer(sessionId, code, fail);
}

void ScriptedSpoolClient::Answer(DWORD sessionId, uint32_t code, bool fail) {
  auto& channels = sim::SimVirtualChannels::Instance();
  if (fail) {
    channels.SendChunkToServer(sessionId, kSpoolChannel, 0, 0x3, {});
    return;
  }
  std::optional<uint32_t> capabilities;
  {
    sim::Guard guard(lock_);
    capabilities = capabilities_;
  }
  switch (code) {
    case MSG_START_DOC:
      channels.SendToServer(sessionId, kSpoolChannel,
                            capabilities ? BuildJobStartAck(*capabilities) : BuildJobStartAck());
      break;
    case MSG_PAGE_SETTINGS:
      if (capabilities && (*capabilities & kCapPageSettings)) {
        channels.SendToServer(sessionId, kSpoolChannel, BuildPageSettingsAck());
      }
      break;
    case MSG_PAGE:
      channels.SendToServer(sessionId, kSpoolChannel, BuildPageAck());
      break;
    case MSG_COMPRESSED_PAGE:
      if (capabilities && (*capabilities & kCapCompressedPages)) {
        channels.SendToServer(sessionId, kSpoolChannel, BuildCompressedPageAck());
      }
      break;
    case MSG_END_DOC:
      channels.SendToServer(sessionId, kSpoolChannel, BuildJobEndAck());
      break;
    default:
      break;
  }
}

}  // namespace quil::test
