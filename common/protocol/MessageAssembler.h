// Joins one message from the chunks in which a virtual channel delivers it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace quil {

// Chunk flags as the platform sets them (its CHANNEL_FLAG_FIRST and CHANNEL_FLAG_LAST, which are
// macros in the platform's header and so cannot be reused as names here).
inline constexpr uint32_t kChunkFlagFirst = 0x1;
inline constexpr uint32_t kChunkFlagLast = 0x2;

// The buffer is allocated once, at the total length announced by the chunk that starts the
// message; every chunk's data is appended; the chunk flagged last completes it. A chunk is refused
// when it would run past the announced total, when it starts a message of 0 bytes or of more than
// the owner accepts, when no message
// is in progress to take it, or when it is flagged last but leaves the message short of its total.
// A refusal discards the message; the next starting chunk begins afresh.
class CQuilMessageAssembler {
 public:
  // Which chunk starts a message.
  enum class StartRule {
    kFirstFlag,  // a chunk flagged first, even mid-message (the client's open-event procedure)
    kWhenIdle,   // any chunk while no message is in progress (the server's read loop)
  };
  enum class Result { kNeedMore, kComplete, kRefused };
  // The largest message the owner accepts, from the data of the chunk that starts it (where its
  // code is).
  using SizeBound = uint32_t (*)(std::span<const uint8_t> start);

  // A message announcing more than `maxTotal` bytes is refused before anything is allocated.
  explicit CQuilMessageAssembler(StartRule rule, uint32_t maxTotal = UINT32_MAX) : rule_(rule), maxTotal_(maxTotal) {}
  // The same with a bound that depends on the message's start.
  CQuilMessageAssembler(StartRule rule, SizeBound bound) : rule_(rule), bound_(bound) {}

  Result AddChunk(std::span<const uint8_t> data, uint32_t totalLength, uint32_t flags);
  // The message that AddChunk reported complete, moved out; empty while none is complete.
  std::vector<uint8_t> TakeMessage();
  // Gives a taken message's storage back once its owner is done with it: the next message is
  // joined there if it fits, so that a long job does not take fresh memory for every message.
  // One storage is kept; a message that does not fit gets new storage at least twice as large
  // (within the largest total accepted), or exactly its own size when that much cannot be had.
  void Recycle(std::vector<uint8_t> storage);

 private:
  bool Starts(uint32_t flags) const;
  bool Begin(uint32_t totalLength, std::span<const uint8_t> start);
  // Replaces the buffer with fresh storage for `needed` bytes, `grown` if that can be had.
  bool ReserveFresh(std::size_t needed, std::size_t grown);
  Result Refuse();

  StartRule rule_;
  uint32_t maxTotal_ = UINT32_MAX;
  SizeBound bound_ = nullptr;
  bool inProgress_ = false;
  uint32_t total_ = 0;
  std::vector<uint8_t> buffer_;  // reserved at the total, so appending never reallocates
  std::vector<uint8_t> spare_;   // storage given back for the next message
};

}  // namespace quil
