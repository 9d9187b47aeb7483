#include "MessageCodes.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;

TEST(MessageCodes, ReadFromAnyMessage) {
  EXPECT_EQ(ReadMessageCode(Bytes{0x04, 0x00, 0x00, 0x00, 0xFF}), MSG_PAGE);
  EXPECT_EQ(ReadMessageCode(Bytes{0x01, 0x02, 0x03, 0x04}), 0x04030201u);
  EXPECT_FALSE(ReadMessageCode(Bytes{0x00, 0x00, 0x00}));
  EXPECT_FALSE(ReadMessageCode(Bytes{}));
}

TEST(MessageCodes, IsMessageComparesCode) {
  EXPECT_TRUE(IsMessage(Bytes{0x03, 0x00, 0x00, 0x00}, MSG_END_DOC));
  EXPECT_FALSE(IsMessage(Bytes{0x03, 0x00, 0x00, 0x00}, MSG_START_DOC));
  EXPECT_FALSE(IsMessage(Bytes{0x00, 0x00, 0x00}, MSG_GET_PRINTERS));  // too short for a code
}

}  // namespace
}  // namespace quil
