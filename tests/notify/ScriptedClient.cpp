#include "ScriptedClient.h"

#include "PrinterListMessages.h"
#include "SimVirtualChannels.h"

namespace quil::test {

void ScriptedClient::StayQuiet() {
  sim::Guard guard(lock_);
  quiet_ = true;
}

void ScriptedClient::ReplyToCountWith(std::vector<uint8_t> reply) {
  sim::Guard guard(lock_);
  countReply_ = std::move(reply);
}

void ScriptedClient::ReplyToPrinterWith(uint32_t index, std::vector<uint8_t> reply) {
  sim::Guard guard(lock_);
  printerReplies_[index] = std::move(reply);
}

void ScriptedClient::ReplyToPrinterWithChunks(uint32_t index, std::vector<RawChunk> chunks) {
  sim::Guard guard(lock_);
  printerChunks_[index] = std::move(chunks);
}

size_t ScriptedClient::CountRequests() {
  sim::Guard guard(lock_);
  return countRequests_;
}

std::vector<uint32_t> ScriptedClient::PrinterRequests() {
  sim::Guard guard(lock_);
  return printerRequests_;
}

void ScriptedClient::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  if (channelName == "QPrn") Answer(sessionId, channelName, message);
}

void ScriptedClient::Answer(DWORD sessionId, const std::string& channelName, const std::vector<uint8_t>& message) {
  auto& channels = sim::SimVirtualChannels::Instance();
  std::vector<uint8_t> reply;
  std::vector<RawChunk> chunks;
  {
    sim::Guard guard(lock_);
    if (IsMessage(message, MSG_GET_PRINTERS)) {
      ++countRequests_;
      reply = countReply_ ? *countReply_ : BuildPrinterCountReply(static_cast<uint32_t>(printers_.size()));
    } else if (const auto index = ParsePrinterRequest(message)) {
      printerRequests_.push_back(*index);
      if (auto raw = printerChunks_.find(*index); raw != printerChunks_.end()) {
        chunks = raw->second;
      } else if (auto prepared = printerReplies_.find(*index); prepared != printerReplies_.end()) {
        reply = prepared->second;
      } else if (*index < printers_.size()) {
        reply = BuildPrinterRecord(printers_[*index].name, printers_[*index].isDefault);
      }
    }
    if (quiet_) return;
  }
  for (const auto& chunk : chunks) {
    channels.SendChunkToServer(sessionId, channelName, chunk.totalLength, chunk.flags, chunk.data);
  }
  if (!reply.empty()) channels.SendToServer(sessionId, channelName, reply);
}

}  // namespace quil::test
