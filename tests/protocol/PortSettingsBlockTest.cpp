#include "PortSettingsBlock.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;
using test::Join;

TEST(PortSettingsBlock, BuildByteExactWithStringsFromTheEndBackwards) {
  const Bytes block = BuildPortSettingsBlock({u"QPRN[1:0:1]", u"p", u"u", 1});
  ASSERT_EQ(block.size(), 48u);  // twice the three lengths (11 + 1 + 1) plus 22
  EXPECT_EQ(block, Join({
                       {0x08, 0x00, 0x00, 0x00},  // port name at string area + 8
                       {0x04, 0x00, 0x00, 0x00},  // client printer name at + 4
                       {0x01, 0x00, 0x00, 0x00},  // session id 1
                       {0x00, 0x00, 0x00, 0x00},  // user name at + 0
                       {'u', 0, 0, 0},
                       {'p', 0, 0, 0},
                       {'Q', 0, 'P', 0, 'R', 0, 'N', 0, '[', 0, '1', 0, ':', 0, '0', 0, ':', 0, '1', 0, ']', 0, 0, 0},
                   }));
}

TEST(PortSettingsBlock, ParsesWhatItBuilds) {
  const PortSettings settings{u"QPRN[3:2:17]", u"\\\\PRINTSRV\\Laser \u03A9", u"alice", 0x01020304};
  EXPECT_EQ(ParsePortSettingsBlock(BuildPortSettingsBlock(settings)), settings);
}

TEST(PortSettingsBlock, ParseFollowsTheOffsetsWhateverTheOrder) {
  const Bytes block = Join({
      {0x00, 0x00, 0x00, 0x00},  // port name first
      {0x04, 0x00, 0x00, 0x00},
      {0x09, 0x00, 0x00, 0x00},  // session id 9
      {0x08, 0x00, 0x00, 0x00},  // user name last
      {'P', 0, 0, 0},
      {'C', 0, 0, 0},
      {'U', 0, 0, 0},
  });
  EXPECT_EQ(ParsePortSettingsBlock(block), (PortSettings{u"P", u"C", u"U", 9}));
}

TEST(PortSettingsBlock, RefusesBlocksWhoseStringsDoNotEndInside) {
  Bytes block = BuildPortSettingsBlock({u"QPRN[1:0:1]", u"p", u"u", 1});
  EXPECT_EQ(ParsePortSettingsBlock(std::span(block).first(15)), std::nullopt) << "shorter than the header";
  EXPECT_EQ(ParsePortSettingsBlock(std::span(block).first(block.size() - 1)), std::nullopt) << "port name cut";

  Bytes offsetOutside = block;
  offsetOutside[4] = 32;  // client printer name at the block's end
  EXPECT_EQ(ParsePortSettingsBlock(offsetOutside), std::nullopt);
  Bytes offsetHuge = block;
  offsetHuge[15] = 0xFF;  // user name offset near 4 GiB must not wrap around
  EXPECT_EQ(ParsePortSettingsBlock(offsetHuge), std::nullopt);
}

}  // namespace
}  // namespace quil
