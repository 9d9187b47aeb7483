// Plays the server's read loop on arbitrary reads: each read is a 2-byte little-endian length and
// that many bytes (cut to what is left), parsed as a chunk and joined into messages, which go to
// the printer-list parsers as the session does with them. A message never exceeds the data read
// since the previous one, and a record's name turns into a display name without reading past it.
#include <algorithm>

#include "ChannelChunk.h"
#include "FuzzCheck.h"
#include "MessageAssembler.h"
#include "PrinterListMessages.h"
#include "SessionPrinterNames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  CQuilMessageAssembler assembler(CQuilMessageAssembler::StartRule::kWhenIdle, kMaxReplySize);
  std::span<const uint8_t> reads(data, size);
  std::size_t delivered = 0;
  while (reads.size() >= 2) {
    const std::size_t length = std::min<std::size_t>(reads[0] | reads[1] << 8, reads.size() - 2);
    const auto bytesRead = reads.subspan(2, length);
    reads = reads.subspan(2 + length);
    const auto chunk = ParseChannelChunk(bytesRead);
    if (!chunk) continue;
    fuzz::Require(chunk->data.size() <= ChannelChunkLayout::kMaxDataSize);
    fuzz::Require(fuzz::LiesInside(chunk->data, bytesRead));
    delivered += chunk->data.size();
    if (assembler.AddChunk(chunk->data, chunk->totalLength, chunk->flags) !=
        CQuilMessageAssembler::Result::kComplete) {
      continue;
    }
    const auto message = assembler.TakeMessage();
    fuzz::Require(!message.empty() && message.size() <= delivered);
    delivered = 0;
    ParsePrinterCountReply(message);
    if (const auto record = ParsePrinterRecord(message)) {
      fuzz::Require(ClientPrinterDisplayName(record->name).size() <= record->name.size() + 2);
    }
  }
  return 0;
}
