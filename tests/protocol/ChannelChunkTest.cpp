#include "ChannelChunk.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;
using test::Join;

TEST(ChannelChunk, SplitsHeaderAndData) {
  const Bytes read = Join({{0x88, 0x13, 0x00, 0x00}, {0x01, 0x00, 0x00, 0x00}, {7, 8, 9}});
  const auto chunk = ParseChannelChunk(read);
  ASSERT_TRUE(chunk);
  EXPECT_EQ(chunk->totalLength, 5000u);
  EXPECT_EQ(chunk->flags, 1u);
  EXPECT_EQ(Bytes(chunk->data.begin(), chunk->data.end()), (Bytes{7, 8, 9}));
}

TEST(ChannelChunk, HeaderAloneAndFullChunk) {
  EXPECT_TRUE(ParseChannelChunk(Bytes(8)));
  const auto full = ParseChannelChunk(Bytes(1608));
  ASSERT_TRUE(full);
  EXPECT_EQ(full->data.size(), 1600u);
}

TEST(ChannelChunk, RefusesReadsShorterThanTheHeaderOrLongerThanAChunk) {
  EXPECT_FALSE(ParseChannelChunk(Bytes(7)));
  EXPECT_FALSE(ParseChannelChunk(Bytes{}));
  EXPECT_FALSE(ParseChannelChunk(Bytes(1609)));
}

}  // namespace
}  // namespace quil
