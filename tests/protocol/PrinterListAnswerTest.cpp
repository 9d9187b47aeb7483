#include "PrinterListAnswer.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"
#include "PrinterListMessages.h"

namespace quil {
namespace {

using test::Bytes;

const PrinterSnapshot kSnapshot{{u"Laser", u"\\\\PRINTSRV\\Ink"}, u"\\\\PRINTSRV\\Ink"};

// The reply to a request from the answers built for `snapshot`; empty for no reply.
Bytes Answer(const Bytes& request, const PrinterSnapshot& snapshot = kSnapshot) {
  const PrinterListAnswers answers(snapshot);
  const auto reply = answers.For(request);
  return Bytes(reply.begin(), reply.end());
}

TEST(PrinterListAnswerTest, AnswersTheCountRequest) {
  EXPECT_EQ(Answer(BuildPrinterCountRequest()), (Bytes{0, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(Answer(BuildPrinterCountRequest(), PrinterSnapshot{}), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  const PrinterListAnswers none;
  const auto reply = none.For(BuildPrinterCountRequest());
  EXPECT_EQ(Bytes(reply.begin(), reply.end()), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(PrinterListAnswerTest, AnswersEachIndexWithItsRecord) {
  const Bytes laser = {0x01, 0, 0, 0,                                  // code MSG_GET_PRINTER
                       0x00, 0, 0, 0,                                  // name offset 0
                       0x00, 0, 0, 0,                                  // not the default
                       'L', 0, 'a', 0, 's', 0, 'e', 0, 'r', 0, 0, 0};  // name, NUL
  EXPECT_EQ(Answer(BuildPrinterRequest(0)), laser);
  const Bytes ink = Answer(BuildPrinterRequest(1));
  EXPECT_EQ(ink.size(), 12 + 2 * (14 + 1u));  // 14 characters and a NUL
  EXPECT_EQ(ParsePrinterRecord(ink), (PrinterRecord{u"\\\\PRINTSRV\\Ink", true}));
}

TEST(PrinterListAnswerTest, TheDefaultMustMatchExactly) {
  const PrinterSnapshot snapshot{{u"Laser", u""}, u"LASER"};
  EXPECT_FALSE(ParsePrinterRecord(Answer(BuildPrinterRequest(0), snapshot))->isDefault);
  // An empty default name is no default, even for a printer with an empty name.
  const PrinterSnapshot noDefault{{u""}, u""};
  EXPECT_FALSE(ParsePrinterRecord(Answer(BuildPrinterRequest(0), noDefault))->isDefault);
}

TEST(PrinterListAnswerTest, RefusesRequestsOutsideTheProtocol) {
  EXPECT_TRUE(Answer(BuildPrinterRequest(2)).empty());
  EXPECT_TRUE(Answer(BuildPrinterRequest(0xFFFFFFFF)).empty());
  EXPECT_TRUE(Answer(BuildPrinterRequest(0), PrinterSnapshot{}).empty());
  EXPECT_TRUE(Answer(Bytes{1, 0, 0, 0, 0, 0, 0}).empty());  // index cut short
  EXPECT_TRUE(Answer(Bytes{0, 0, 0}).empty());              // code cut short
  EXPECT_TRUE(Answer(Bytes{}).empty());
  EXPECT_TRUE(Answer(Bytes{2, 0, 0, 0}).empty());  // a spool-channel code
}

}  // namespace
}  // namespace quil
