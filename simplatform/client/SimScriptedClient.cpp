#include "SimScriptedClient.h"

#include "PrinterListMessages.h"
#include "SimVirtualChannels.h"

namespace sim {

void SimScriptedClient::StayQuiet() {
  Guard guard(lock_);
  quiet_ = true;
}

void SimScriptedClient::ReplyToCountWith(std::vector<uint8_t> reply) {
  Guard guard(lock_);
  countReply_ = std::move(reply);
}

void SimScriptedClient::ReplyToPrinterWith(uint32_t index, std::vector<uint8_t> reply) {
  Guard guard(lock_);
  printerReplies_[index] = std::move(reply);
}

void SimScriptedClient::ReplyToPrinterWithChunks(uint32_t index, std::vector<RawChunk> chunks) {
  Guard guard(lock_);
  printerChunks_[index] = std::move(chunks);
}

size_t SimScriptedClient::CountRequests() {
  Guard guard(lock_);
  return countRequests_;
}

std::vector<uint32_t> SimScriptedClient::PrinterRequests() {
  Guard guard(lock_);
  return printerRequests_;
}

void SimScriptedClient::Deliver(DWORD sessionId, const std::string& channelName, std::vector<uint8_t> message) {
  if (channelName == "QPrn") Answer(sessionId, channelName, message);
}

void SimScriptedClient::Answer(DWORD sessionId, const std::string& channelName, const std::vector<uint8_t>& message) {
  auto& channels = SimVirtualChannels::Instance();
  std::vector<uint8_t> reply;
  std::vector<RawChunk> chunks;
  {
    Guard guard(lock_);
    if (quil::IsMessage(message, quil::MSG_GET_PRINTERS)) {
      ++countRequests_;
      reply = countReply_ ? *countReply_ : quil::BuildPrinterCountReply(static_cast<uint32_t>(printers_.size()));
    } else if (const auto index = quil::ParsePrinterRequest(message)) {
      printerRequests_.push_back(*index);
      if (auto raw = printerChunks_.find(*index); raw != printerChunks_.end()) {
        chunks = raw->second;
      } else if (auto prepared = printerReplies_.find(*index); prepared != printerReplies_.end()) {
        reply = prepared->second;
      } else if (*index < printers_.size()) {
        reply = quil::BuildPrinterRecord(printers_[*index].name, printers_[*index].isDefault);
      }
    }
    if (quiet_) return;
  }
  for (const auto& chunk : chunks) {
    channels.SendChunkToServer(sessionId, channelName, chunk.totalLength, chunk.flags, chunk.data);
  }
  if (!reply.empty()) channels.SendToServer(sessionId, channelName, reply);
}

}  // namespace sim
