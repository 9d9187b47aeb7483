// Feeds a script of chunks (see ChunkScript.h) to the assembler under either start rule. Every
// completed message is no longer than the data delivered since the previous one and ends with the
// data of the chunk that completed it.
#include "ChunkScript.h"
#include "FuzzCheck.h"
#include "MessageAssembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quil;
  using StartRule = CQuilMessageAssembler::StartRule;
  if (size == 0) return 0;
  CQuilMessageAssembler assembler(data[0] & 1 ? StartRule::kWhenIdle : StartRule::kFirstFlag);
  std::span<const uint8_t> script(data + 1, size - 1);
  std::size_t delivered = 0;
  while (const auto chunk = fuzz::NextChunk(script)) {
    delivered += chunk->data.size();
    const auto result = assembler.AddChunk(chunk->data, chunk->totalLength, chunk->flags);
    const auto message = assembler.TakeMessage();
    if (result != CQuilMessageAssembler::Result::kComplete) continue;
    fuzz::Require(message.size() >= chunk->data.size() && message.size() <= delivered);
    fuzz::Require(std::equal(chunk->data.rbegin(), chunk->data.rend(), message.rbegin()));
    delivered = 0;
  }
  return 0;
}
