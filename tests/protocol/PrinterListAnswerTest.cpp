#include "PrinterListAnswer.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"
#include "PrinterListMessages.h"

namespace quil {
namespace {

using test::Bytes;

const PrinterSnapshot kSnapshot{{u"Laser", u"\\\\PRINTSRV\\Ink"}, u"\\\\PRINTSRV\\Ink"};

TEST(PrinterListAnswerTest, AnswersTheCountRequest) {
  EXPECT_EQ(AnswerPrinterListRequest(BuildPrinterCountRequest(), kSnapshot),
            (Bytes{0, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(AnswerPrinterListRequest(BuildPrinterCountRequest(), PrinterSnapshot{}),
            (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PrinterListAnswerTest, AnswersEachIndexWithItsRecord) {
  const Bytes laser = {0x01, 0, 0, 0,                                  // code MSG_GET_PRINTER
                       0x00, 0, 0, 0,                                  // name offset 0
                       0x00, 0, 0, 0,                                  // not the default
                       'L', 0, 'a', 0, 's', 0, 'e', 0, 'r', 0, 0, 0};  // name, NUL
  EXPECT_EQ(AnswerPrinterListRequest(BuildPrinterRequest(0), kSnapshot), laser);
  const auto ink = AnswerPrinterListRequest(BuildPrinterRequest(1), kSnapshot);
  ASSERT_TRUE(ink);
  EXPECT_EQ(ink->size(), 12 + 2 * (14 + 1u));  // 14 characters and a NUL
  EXPECT_EQ(ParsePrinterRecord(*ink), (PrinterRecord{u"\\\\PRINTSRV\\Ink", true}));
}

TEST(PrinterListAnswerTest, TheDefaultMustMatchExactly) {
  const PrinterSnapshot snapshot{{u"Laser", u""}, u"LASER"};
  EXPECT_FALSE(ParsePrinterRecord(*AnswerPrinterListRequest(BuildPrinterRequest(0), snapshot))
                   ->isDefault);
  // An empty default name is no default, even for a printer with an empty name.
  const PrinterSnapshot noDefault{{u""}, u""};
  EXPECT_FALSE(ParsePrinterRecord(*AnswerPrinterListRequest(BuildPrinterRequest(0), noDefault))
                   ->isDefault);
}

TEST(PrinterListAnswerTest, RefusesRequestsOutsideTheProtocol) {
  EXPECT_FALSE(AnswerPrinterListRequest(BuildPrinterRequest(2), kSnapshot));
  EXPECT_FALSE(AnswerPrinterListRequest(BuildPrinterRequest(0xFFFFFFFF), kSnapshot));
  EXPECT_FALSE(AnswerPrinterListRequest(BuildPrinterRequest(0), PrinterSnapshot{}));
  EXPECT_FALSE(AnswerPrinterListRequest(Bytes{1, 0, 0, 0, 0, 0, 0}, kSnapshot));  // index cut short
  EXPECT_FALSE(AnswerPrinterListRequest(Bytes{0, 0, 0}, kSnapshot));              // code cut short
  EXPECT_FALSE(AnswerPrinterListRequest(Bytes{}, kSnapshot));
  EXPECT_FALSE(AnswerPrinterListRequest(Bytes{2, 0, 0, 0}, kSnapshot));  // a spool-channel code
}

}  // namespace
}  // namespace quil
