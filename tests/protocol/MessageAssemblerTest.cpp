#include "MessageAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <new>

#include "ByteFixtures.h"
#include "FontMessages.h"
#include "MessageBounds.h"
#include "PageCompression.h"

namespace quil {
namespace {

// The largest block the program's operator new hands out while a test sets it; 0: no limit.
std::size_t g_largestAllocation = 0;

}  // namespace
}  // namespace quil

// Every allocation of this program, limited while a test sets a limit.
void* operator new(std::size_t size) {
  if (quil::g_largestAllocation != 0 && size > quil::g_largestAllocation) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace quil {
namespace {

using test::Bytes;
using test::Pattern;
using Result = CQuilMessageAssembler::Result;
using StartRule = CQuilMessageAssembler::StartRule;

constexpr std::size_t kChunkData = 1600;  // the platform's largest chunk
constexpr uint32_t kBoth = kChunkFlagFirst | kChunkFlagLast;

// Feeds a message in chunks flagged as the platform flags them, the first one with `firstFlag`;
// returns each chunk's result.
std::vector<Result> Feed(CQuilMessageAssembler& assembler, const Bytes& message,
                         uint32_t firstFlag = kChunkFlagFirst) {
  std::vector<Result> results;
  const auto total = static_cast<uint32_t>(message.size());
  for (std::size_t start = 0; start < message.size(); start += kChunkData) {
    const std::size_t size = std::min(kChunkData, message.size() - start);
    const uint32_t flags =
        (start == 0 ? firstFlag : 0) | (start + size == message.size() ? kChunkFlagLast : 0);
    results.push_back(assembler.AddChunk({message.data() + start, size}, total, flags));
  }
  return results;
}

class MessageAssemblerBothRules : public testing::TestWithParam<StartRule> {
 protected:
  CQuilMessageAssembler assembler_{GetParam()};
};

TEST_P(MessageAssemblerBothRules, OneChunkMessage) {
  const Bytes message = Pattern(1600);
  EXPECT_EQ(Feed(assembler_, message), std::vector{Result::kComplete});
  EXPECT_EQ(assembler_.TakeMessage(), message);
  EXPECT_TRUE(assembler_.TakeMessage().empty());  // handed out once
}

TEST_P(MessageAssemblerBothRules, ManyChunkMessages) {
  const Bytes small = Pattern(5000);
  EXPECT_EQ(Feed(assembler_, small), (std::vector{Result::kNeedMore, Result::kNeedMore,
                                                  Result::kNeedMore, Result::kComplete}));
  EXPECT_EQ(assembler_.TakeMessage(), small);

  const Bytes large = Pattern(3 * 1024 * 1024 + 7);
  EXPECT_EQ(Feed(assembler_, large).back(), Result::kComplete);
  const Bytes joined = assembler_.TakeMessage();
  EXPECT_EQ(joined, large);
  EXPECT_EQ(joined.capacity(), large.size());  // allocated once, at the announced total
}

TEST_P(MessageAssemblerBothRules, RecycledStorageTakesTheNextMessageThatFits) {
  const Bytes large = Pattern(9000);
  Feed(assembler_, large);
  Bytes taken = assembler_.TakeMessage();
  const uint8_t* storage = taken.data();
  assembler_.Recycle(std::move(taken));
  const Bytes smaller = Pattern(4000);
  EXPECT_EQ(Feed(assembler_, smaller).back(), Result::kComplete);
  taken = assembler_.TakeMessage();
  EXPECT_EQ(taken, smaller);
  EXPECT_EQ(taken.data(), storage);
  // A message beyond the storage gets new storage, at least twice the old.
  assembler_.Recycle(std::move(taken));
  const Bytes larger = Pattern(10000);
  EXPECT_EQ(Feed(assembler_, larger).back(), Result::kComplete);
  taken = assembler_.TakeMessage();
  EXPECT_EQ(taken, larger);
  EXPECT_GE(taken.capacity(), 18000u);
}

TEST_P(MessageAssemblerBothRules, AMessageBeyondTheStorageTakesItsOwnSizeWhenTwiceTheStorageCannotBeHad) {
  Feed(assembler_, Pattern(600000));
  assembler_.Recycle(assembler_.TakeMessage());
  const Bytes larger = Pattern(700000);
  g_largestAllocation = larger.size();  // 700000 bytes can be had, 1200000 cannot
  const Result last = Feed(assembler_, larger).back();
  Bytes joined = assembler_.TakeMessage();
  g_largestAllocation = 0;
  EXPECT_EQ(last, Result::kComplete);
  EXPECT_EQ(joined, larger);
  EXPECT_EQ(joined.capacity(), larger.size());
}

TEST_P(MessageAssemblerBothRules, RefuseOverrunAndRecover) {
  EXPECT_EQ(assembler_.AddChunk(Pattern(6), 10, kChunkFlagFirst), Result::kNeedMore);
  EXPECT_EQ(assembler_.AddChunk(Pattern(5), 10, 0), Result::kRefused);  // refused before LAST
  EXPECT_TRUE(assembler_.TakeMessage().empty());
  EXPECT_EQ(assembler_.AddChunk(Pattern(5), 4, kChunkFlagFirst), Result::kRefused);
  EXPECT_EQ(Feed(assembler_, Pattern(2000)).back(), Result::kComplete);
  EXPECT_EQ(assembler_.TakeMessage(), Pattern(2000));
}

TEST_P(MessageAssemblerBothRules, RefuseZeroTotal) {
  EXPECT_EQ(assembler_.AddChunk({}, 0, kBoth), Result::kRefused);
  EXPECT_EQ(assembler_.AddChunk(Pattern(4), 0, kBoth), Result::kRefused);
}

TEST_P(MessageAssemblerBothRules, RefuseAnnouncementsAboveTheOwnersLimitAndRecover) {
  CQuilMessageAssembler limited(GetParam(), 2000);
  EXPECT_EQ(limited.AddChunk(Pattern(1600), 2001, kChunkFlagFirst), Result::kRefused);
  EXPECT_EQ(Feed(limited, Pattern(2000)).back(), Result::kComplete);
  EXPECT_EQ(limited.TakeMessage(), Pattern(2000));
}

TEST_P(MessageAssemblerBothRules, RefuseShortLastAndRecover) {
  EXPECT_EQ(assembler_.AddChunk(Pattern(6), 10, kBoth), Result::kRefused);
  EXPECT_EQ(assembler_.AddChunk(Pattern(4), 4, kBoth), Result::kComplete);
  EXPECT_EQ(assembler_.TakeMessage(), Pattern(4));
}

INSTANTIATE_TEST_SUITE_P(StartRules, MessageAssemblerBothRules,
                         testing::Values(StartRule::kFirstFlag, StartRule::kWhenIdle),
                         [](const auto& info) {
                           return info.param == StartRule::kFirstFlag ? "FirstFlag" : "WhenIdle";
                         });

TEST(MessageAssemblerFirstFlag, RefuseDataBeforeFirstChunk) {
  CQuilMessageAssembler assembler(StartRule::kFirstFlag);
  EXPECT_EQ(assembler.AddChunk(Pattern(4), 4, 0), Result::kRefused);
  EXPECT_EQ(assembler.AddChunk(Pattern(4), 4, kChunkFlagLast), Result::kRefused);
}

TEST(MessageAssemblerFirstFlag, FirstChunkRestartsUnfinishedMessage) {
  CQuilMessageAssembler assembler(StartRule::kFirstFlag);
  EXPECT_EQ(assembler.AddChunk(Pattern(3), 10, kChunkFlagFirst), Result::kNeedMore);
  EXPECT_EQ(assembler.AddChunk(Pattern(8), 8, kBoth), Result::kComplete);
  EXPECT_EQ(assembler.TakeMessage(), Pattern(8));
}

TEST(MessageAssemblerWhenIdle, StartsWithoutFirstFlagSizedByFirstChunk) {
  CQuilMessageAssembler assembler(StartRule::kWhenIdle);
  const Bytes message = Pattern(5000);
  EXPECT_EQ(Feed(assembler, message, 0).back(), Result::kComplete);
  EXPECT_EQ(assembler.TakeMessage(), message);
  // Later chunks' flags and totals do not restart or resize the message.
  EXPECT_EQ(assembler.AddChunk(Pattern(2), 4, 0), Result::kNeedMore);
  EXPECT_EQ(assembler.AddChunk(Pattern(2), 99, kChunkFlagFirst | kChunkFlagLast),
            Result::kComplete);
  EXPECT_EQ(assembler.TakeMessage(), Bytes({1, 8, 1, 8}));
}

// The add-in's bound per code: a font message up to its largest size is taken, a byte more is
// refused before anything is allocated; other messages keep the original bound; a message whose
// first chunk is too short to hold its code must end in that chunk.
TEST(MessageAssemblerServerBound, AFontMessageIsTakenUpToItsLargestSizeAndNotAByteMore) {
  const auto start = [](uint32_t code) {
    return Bytes{static_cast<uint8_t>(code), 0, 0, 0, 0, 0, 0, 0};
  };
  const auto fontMax = static_cast<uint32_t>(FontDataLayout::kMaxSize);
  const auto compressedMax = static_cast<uint32_t>(CompressedFontDataLayout::kFixedSize + FontDataLayout::kMaxSize);
  const struct {
    const char* what;
    Bytes start;
    uint32_t total;
    Result result;
  } cases[] = {
      {"font data at its largest", start(MSG_FONT_DATA), fontMax, Result::kNeedMore},
      {"font data a byte larger", start(MSG_FONT_DATA), fontMax + 1, Result::kRefused},
      {"compressed font data at its largest", start(MSG_COMPRESSED_FONT_DATA), compressedMax, Result::kNeedMore},
      {"compressed font data a byte larger", start(MSG_COMPRESSED_FONT_DATA), compressedMax + 1, Result::kRefused},
      {"a page larger than any font", start(MSG_PAGE), compressedMax + 1, Result::kNeedMore},
      {"a start without its code, whole", Bytes{8, 0}, 2, Result::kComplete},
      {"a start without its code, more to come", Bytes{8, 0}, 3, Result::kRefused},
  };
  for (const auto& c : cases) {
    CQuilMessageAssembler assembler(StartRule::kFirstFlag, ServerMessageBound);
    const uint32_t flags = kChunkFlagFirst | (c.total == c.start.size() ? kChunkFlagLast : 0);
    EXPECT_EQ(assembler.AddChunk(c.start, c.total, flags), c.result) << c.what;
  }
}

}  // namespace
}  // namespace quil
