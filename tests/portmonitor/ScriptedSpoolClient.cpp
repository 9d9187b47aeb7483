#include "ScriptedSpoolClient.h"

#include <algorithm>

#include "FontMessages.h"
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

void ScriptedSpoolClient::HaveFaces(std::vector<std::u16string> faces) {
  sim::Guard guard(lock_);
  faces_ = std::move(faces);
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
  for (const Held& held : held_) Answer(held.sessionId, held.answer, false);
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
  received.previousAnswerRead = sim::SimVirtualChannels::Instance().UnreadChunks(sessionId, kSpoolChannel) == 0;
  bool answer = false;
  bool fail = false;
  std::vector<uint8_t> reply;
  {
    sim::Guard guard(lock_);
    reply = AnswerTo(received.code, message);
    if (keepBytes_) received.bytes = std::move(message);
    const size_t index = received_.size();
    received_.push_back(std::move(received));
    fail = failAt_ == index;
    if (holdAt_ && index >= *holdAt_) {
      held_.push_back(Held{sessionId, received_.back().code, reply});
    } else {
      answer = !quiet_;
    }
  }
  SetEvent(arrived_.get());
  if (answer) Answer(sessionId, reply, fail);
}

std::vector<uint8_t> ScriptedSpoolClient::AnswerTo(uint32_t code, std::span<const uint8_t> message) {
  const uint32_t announced = capabilities_.value_or(0);
  switch (code) {
    case MSG_START_DOC:
      return capabilities_ ? BuildJobStartAck(*capabilities_) : BuildJobStartAck();
    case MSG_PAGE_SETTINGS:
      return (announced & kCapPageSettings) ? BuildPageSettingsAck() : std::vector<uint8_t>{};
    case MSG_PAGE:
      return BuildPageAck();
    case MSG_COMPRESSED_PAGE:
      return (announced & kCapCompressedPages) ? BuildCompressedPageAck() : std::vector<uint8_t>{};
    case MSG_FONT_QUERY: {
      const auto references = ParseFontQuery(message);
      if (!(announced & kCapFonts) || !references) return {};
      std::vector<bool> lacking;
      for (const FontReference& reference : *references) {
        lacking.push_back(std::find(faces_.begin(), faces_.end(), reference.faceName) == faces_.end());
      }
      return BuildFontQueryAnswer(lacking);
    }
    case MSG_FONT_DATA:
      return (announced & kCapFonts) ? BuildFontDataAck() : std::vector<uint8_t>{};
    case MSG_COMPRESSED_FONT_DATA:
      return (announced & kCapFonts) ? BuildCompressedFontDataAck() : std::vector<uint8_t>{};
    case MSG_END_DOC:
      return BuildJobEndAck();
    default:
      return {};
  }
}

void ScriptedSpoolClient::Answer(DWORD sessionId, const std::vector<uint8_t>& answer, bool fail) {
  auto& channels = sim::SimVirtualChannels::Instance();
  if (fail) {
    channels.SendChunkToServer(sessionId, kSpoolChannel, 0, 0x3, {});
    return;
  }
  if (!answer.empty()) channels.SendToServer(sessionId, kSpoolChannel, answer);
}

}  // namespace quil::test
