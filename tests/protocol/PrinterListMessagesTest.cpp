#include "PrinterListMessages.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;
using test::Join;

// Record of printer "L\u03A9" (a code unit with a non-zero high byte), flagged default.
const Bytes kDefaultPrinterRecord = Join({
    {0x01, 0x00, 0x00, 0x00},              // code MSG_GET_PRINTER
    {0x00, 0x00, 0x00, 0x00},              // name offset 0
    {0x01, 0x00, 0x00, 0x00},              // default flag 1
    {'L', 0x00, 0xA9, 0x03, 0x00, 0x00},  // name "L\u03A9", NUL
});

TEST(PrinterCountMessages, BuildByteExact) {
  EXPECT_EQ(BuildPrinterCountRequest(), (Bytes{0x00, 0x00, 0x00, 0x00}));  // code MSG_GET_PRINTERS
  EXPECT_EQ(BuildPrinterCountReply(0x0102), Join({
                                                {0x00, 0x00, 0x00, 0x00},  // code MSG_GET_PRINTERS
                                                {0x02, 0x01, 0x00, 0x00},  // count 0x102
                                            }));
}

TEST(PrinterCountMessages, ParseReply) {
  EXPECT_EQ(ParsePrinterCountReply(BuildPrinterCountReply(7)), 7u);
  EXPECT_EQ(ParsePrinterCountReply(BuildPrinterCountReply(0)), 0u);
  EXPECT_TRUE(IsMessage(BuildPrinterCountRequest(), MSG_GET_PRINTERS));
}

TEST(PrinterCountMessages, RefuseMalformedReply) {
  EXPECT_FALSE(ParsePrinterCountReply(BuildPrinterCountRequest()));               // 4 bytes
  EXPECT_FALSE(ParsePrinterCountReply(Bytes{0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));  // 7
  EXPECT_FALSE(ParsePrinterCountReply(BuildPrinterRequest(1)));                   // wrong code
}

TEST(PrinterRequestMessages, BuildAndParse) {
  const Bytes request = Join({
      {0x01, 0x00, 0x00, 0x00},  // code MSG_GET_PRINTER
      {0x04, 0x03, 0x02, 0x01},  // index 0x01020304
  });
  EXPECT_EQ(BuildPrinterRequest(0x01020304), request);
  EXPECT_EQ(ParsePrinterRequest(request), 0x01020304u);
}

TEST(PrinterRequestMessages, RefuseMalformed) {
  EXPECT_FALSE(ParsePrinterRequest(Bytes{0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00}));  // 7 bytes
  EXPECT_FALSE(ParsePrinterRequest(BuildPrinterCountReply(2)));  // wrong code
}

TEST(PrinterRecordMessages, BuildByteExact) {
  EXPECT_EQ(BuildPrinterRecord(u"L\u03A9", true), kDefaultPrinterRecord);
  const Bytes plain = BuildPrinterRecord(u"Printer", false);
  EXPECT_EQ(plain.size(), 12u + 2 * (7 + 1));
  EXPECT_EQ(plain[8], 0x00);  // default flag 0
}

TEST(PrinterRecordMessages, ParseFindsNameThroughItsOffset) {
  EXPECT_EQ(ParsePrinterRecord(kDefaultPrinterRecord), (PrinterRecord{u"L\u03A9", true}));
  const Bytes oddOffset = Join({
      {0x01, 0x00, 0x00, 0x00},  // code MSG_GET_PRINTER
      {0x03, 0x00, 0x00, 0x00},  // name offset 3
      {0x00, 0x01, 0x00, 0x00},  // default flag 0x100: non-zero counts as set
      {'X', 0x00, 0x00},         // bytes before the name
      {'A', 0x00, 0x00, 0x00},   // name "A", NUL
  });
  EXPECT_EQ(ParsePrinterRecord(oddOffset), (PrinterRecord{u"A", true}));
}

TEST(PrinterRecordMessages, RefuseMalformed) {
  const auto withNameOffset = [](uint32_t offset) {
    Bytes record = kDefaultPrinterRecord;
    for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<uint8_t>(offset >> 8 * i);
    return record;
  };
  const Bytes fixedOnly(kDefaultPrinterRecord.begin(), kDefaultPrinterRecord.begin() + 12);
  const Bytes noNul(kDefaultPrinterRecord.begin(), kDefaultPrinterRecord.end() - 2);
  const Bytes halfNul(kDefaultPrinterRecord.begin(), kDefaultPrinterRecord.end() - 1);
  Bytes wrongCode = kDefaultPrinterRecord;
  wrongCode[0] = 0x00;

  EXPECT_FALSE(ParsePrinterRecord(Bytes(fixedOnly.begin(), fixedOnly.end() - 1)));  // 11 bytes
  EXPECT_FALSE(ParsePrinterRecord(fixedOnly));  // no name at all
  EXPECT_FALSE(ParsePrinterRecord(noNul));
  EXPECT_FALSE(ParsePrinterRecord(halfNul));  // NUL cut in half by the end
  EXPECT_FALSE(ParsePrinterRecord(wrongCode));
  EXPECT_FALSE(ParsePrinterRecord(withNameOffset(6)));  // offset at the end
  EXPECT_FALSE(ParsePrinterRecord(withNameOffset(0xFFFFFFFF)));
  EXPECT_FALSE(ParsePrinterRecord(withNameOffset(0xFFFFFFF4)));  // wraps to 0 in 32 bits
}

}  // namespace
}  // namespace quil
