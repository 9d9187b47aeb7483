// One fixture per message of both channels and the port settings block. The native, x86 and x64
// test builds all run these, so a build whose layout drifts (a field sized by the architecture,
// padding) fails here: a 32-bit server and a 64-bit client must read each other's bytes.
#include <gtest/gtest.h>

#include <algorithm>

#include "ByteFixtures.h"
#include "FontMessages.h"
#include "PageCompression.h"
#include "PortSettingsBlock.h"
#include "PrinterListMessages.h"
#include "SpoolExtension.h"
#include "SpoolMessages.h"

namespace quil {
namespace {

using test::Bytes;
using test::Hex;
using test::Join;
using test::Pattern;

struct WireFixture {
  const char* name;
  Bytes built;
  Bytes expected;
};

DevModeBlock PatternDevMode() {
  DevModeBlock devMode;
  const Bytes pattern = Pattern(devMode.size());
  std::copy(pattern.begin(), pattern.end(), devMode.begin());
  return devMode;
}

const Bytes kCountReply = Hex("00000000 03000000");
const Bytes kPrinterRequest = Hex("01000000 02000000");
const Bytes kPrinterRecord = Hex("01000000 00000000 01000000 4c007a00e9000000");
const Bytes kJobStart = Join({Hex("02000000"), Pattern(220), Hex("04000000 00000000 44000000 50000000")});
const Bytes kPage = Hex("04000000 01000000 02000000 00 0102");
const Bytes kExtendedJobStartAck = Hex("02000000 51455854 01000000 01000000");
const Bytes kPageSettings = Join({Hex("05000000"), Pattern(220)});
const FontReference kFont{u"F", 700, true, 161};
const Bytes kFontReference = Join({Hex("bc020000 01000000 a1000000 4600"), Bytes(62, 0)});
const Bytes kFontQuery = Join({Hex("07000000 01000000"), kFontReference});
const Bytes kFontQueryAnswer = Hex("07000000 02000000 00 01");
const Bytes kFontData = Join({Hex("08000000"), kFontReference, Hex("00000000 02000000 0102")});
const Bytes kPortSettings = Hex("08000000 04000000 05000000 00000000 55000000 43000000 51000000");

std::vector<WireFixture> Fixtures() {
  return {
      {"printer count request", BuildPrinterCountRequest(), Hex("00000000")},
      {"printer count reply", BuildPrinterCountReply(3), kCountReply},
      {"printer request", BuildPrinterRequest(2), kPrinterRequest},
      {"printer record", BuildPrinterRecord(u"Lz\u00e9", true), kPrinterRecord},
      {"job start", BuildJobStart(PatternDevMode(), u"P", u"D"), kJobStart},
      {"page", BuildPage(Hex("0102")), kPage},
      {"job end", BuildJobEnd(), Hex("03000000")},
      {"job start acknowledgement", BuildJobStartAck(), Hex("02000000")},
      {"page acknowledgement", BuildPageAck(), Hex("04000000 00000000 00000000")},
      {"job end acknowledgement", BuildJobEndAck(), Hex("03000000")},
      {"port settings block", BuildPortSettingsBlock({u"Q", u"C", u"U", 5}), kPortSettings},
      // The extension, which only peers that announce it exchange.
      {"extended job start acknowledgement", BuildJobStartAck(kCapPageSettings), kExtendedJobStartAck},
      {"page settings", BuildPageSettings(PatternDevMode()), kPageSettings},
      {"page settings acknowledgement", BuildPageSettingsAck(), Hex("05000000")},
      {"font query", BuildFontQuery(std::vector<FontReference>{kFont}), kFontQuery},
      {"font query answer", BuildFontQueryAnswer({false, true}), kFontQueryAnswer},
      {"font data", BuildFontData(kFont, Hex("0102")), kFontData},
      {"font data acknowledgement", BuildFontDataAck(), Hex("08000000")},
      {"font query refusal", BuildFontQueryRefusal(), Hex("07000000")},
      {"compressed font data acknowledgement", BuildCompressedFontDataAck(), Hex("09000000")},
  };
}

TEST(WireFormat, EveryMessageIsByteIdenticalOnEveryBuild) {
  for (const WireFixture& fixture : Fixtures()) {
    EXPECT_EQ(fixture.built, fixture.expected) << fixture.name;
  }
}

TEST(WireFormat, EveryFixtureReadsBackAsWhatWasWritten) {
  EXPECT_EQ(ParsePrinterCountReply(kCountReply), 3u);
  EXPECT_EQ(ParsePrinterRequest(kPrinterRequest), 2u);
  EXPECT_EQ(ParsePrinterRecord(kPrinterRecord), (PrinterRecord{u"Lz\u00e9", true}));
  EXPECT_EQ(ParseJobStart(kJobStart), (JobStart{PatternDevMode(), u"P", u"D"}));
  const auto page = ParsePage(kPage);
  ASSERT_TRUE(page);
  EXPECT_EQ(Bytes(page->begin(), page->end()), Hex("0102"));
  EXPECT_EQ(ParsePortSettingsBlock(kPortSettings), (PortSettings{u"Q", u"C", u"U", 5}));
  EXPECT_EQ(ParseJobStartAck(kExtendedJobStartAck), kCapPageSettings);
  EXPECT_EQ(ParsePageSettings(kPageSettings), PatternDevMode());
  EXPECT_EQ(ParseFontQuery(kFontQuery), std::vector<FontReference>{kFont});
  EXPECT_EQ(ParseFontQueryAnswer(kFontQueryAnswer, 2), (std::vector<bool>{false, true}));
  const auto font = ParseFontData(kFontData);
  ASSERT_TRUE(font);
  EXPECT_EQ(font->reference, kFont);
  EXPECT_EQ(Bytes(font->font.begin(), font->font.end()), Hex("0102"));
}

// The server learns what a client understands only from the job-start acknowledgement; anything
// but a well-formed extended one means the original protocol.
TEST(WireFormat, OnlyAMarkedAcknowledgementAnnouncesCapabilities) {
  const auto with = [](size_t at, uint8_t value) {
    Bytes ack = kExtendedJobStartAck;
    ack[at] = value;
    return ack;
  };
  Bytes longer = kExtendedJobStartAck;
  longer.resize(40, 0xFF);  // a later version's fields after the flags
  const struct {
    const char* what;
    Bytes ack;
    uint32_t capabilities;
  } cases[] = {
      {"original acknowledgement", BuildJobStartAck(), 0},
      {"extended", kExtendedJobStartAck, kCapPageSettings},
      {"with later fields", longer, kCapPageSettings},
      {"cut short before the flags", Bytes(kExtendedJobStartAck.begin(), kExtendedJobStartAck.end() - 1), 0},
      {"another marker", with(JobStartAckLayout::kMarker, 'q'), 0},
      {"another code", with(0, MSG_END_DOC), 0},
      {"version 0", with(JobStartAckLayout::kVersion, 0), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseJobStartAck(c.ack), c.capabilities) << c.what;
}

}  // namespace
}  // namespace quil
