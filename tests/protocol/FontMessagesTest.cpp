#include "FontMessages.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;
using test::Hex;
using test::Join;
using test::Pattern;

Bytes WithField(Bytes message, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) message[position + i] = static_cast<uint8_t>(value >> 8 * i);
  return message;
}

// Face name "Ab" in 32 units.
const Bytes kFaceAb = Join({Hex("4100 6200"), Bytes(60, 0)});

// A query for "Ab", bold italic Greek, and "Ab" regular.
const Bytes kQuery = Join({
    Hex("07000000"),                                  // code MSG_FONT_QUERY
    Hex("02000000"),                                  // two references
    Hex("bc020000 01000000 a1000000"), kFaceAb,       // weight 700, italic, charset 161, face
    Hex("90010000 00000000 00000000"), kFaceAb,       // weight 400, upright, charset 0, face
});
const std::vector<FontReference> kQueried = {{u"Ab", 700, true, 161}, {u"Ab", 400, false, 0}};

const Bytes kAnswer = Hex("07000000 02000000 01 00");  // lacks the first, has the second

// Data of "Ab" regular: three font bytes.
const Bytes kFontData = Join({
    Hex("08000000"),                             // code MSG_FONT_DATA
    Hex("90010000 00000000 00000000"), kFaceAb,  // the reference
    Hex("00000000"),                             // data offset 0
    Hex("03000000"),                             // data size 3
    Hex("00 01 00"),                             // the font's bytes
});

TEST(FontMessages, BuildByteExactAndReadBack) {
  EXPECT_EQ(BuildFontQuery(kQueried), kQuery);
  EXPECT_EQ(ParseFontQuery(kQuery), kQueried);
  EXPECT_EQ(BuildFontQueryAnswer({true, false}), kAnswer);
  EXPECT_EQ(ParseFontQueryAnswer(kAnswer, 2), (std::vector<bool>{true, false}));
  EXPECT_EQ(BuildFontData(kQueried[1], Hex("000100")), kFontData);
  const auto data = ParseFontData(kFontData);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->reference, kQueried[1]);
  EXPECT_EQ(data->font.data(), kFontData.data() + 88);  // a view, not a copy
  EXPECT_EQ(data->font.size(), 3u);
  EXPECT_EQ(BuildFontDataAck(), Hex("08000000"));
}

TEST(FontMessages, ReferencesKeepEveryField) {
  const std::vector<FontReference> references = {
      {std::u16string(31, u'\u0416'), -1, false, 255}, {u"x", 0, true, 2}, {u"MS Mincho \u660e", 1000, false, 128}};
  EXPECT_EQ(ParseFontQuery(BuildFontQuery(references)), references);
  EXPECT_EQ(ParseFontQuery(BuildFontQuery({})), std::vector<FontReference>{});
  const Bytes font = Pattern(1000);
  const Bytes message = BuildFontData(references[0], font);
  const auto data = ParseFontData(message);
  ASSERT_TRUE(data);
  EXPECT_EQ(data->reference, references[0]);
  EXPECT_EQ(Bytes(data->font.begin(), data->font.end()), font);
}

TEST(FontMessages, FontDataIsMadeInPlaceAsBuilt) {
  Bytes message(kFontDataStart + 3, 0xEE);
  message[kFontDataStart + 1] = 1;
  message[kFontDataStart] = message[kFontDataStart + 2] = 0;
  ASSERT_TRUE(CompleteFontData(message, kQueried[1]));
  EXPECT_EQ(message, kFontData);

  Bytes tooShort(kFontDataStart - 1, 0xEE);
  EXPECT_FALSE(CompleteFontData(tooShort, kQueried[1]));
  EXPECT_EQ(tooShort, Bytes(kFontDataStart - 1, 0xEE));
  Bytes pastTheBudget(kFontDataStart + kJobFontBudget + 1, 0xEE);
  EXPECT_FALSE(CompleteFontData(pastTheBudget, kQueried[1]));
  EXPECT_EQ(pastTheBudget[0], 0xEE);
}

TEST(FontMessages, ParsersRefuseMalformedQueries) {
  Bytes noNul = kQuery;
  std::fill(noNul.begin() + 20, noNul.begin() + 84, 0x41);  // 32 units "A", no NUL
  Bytes emptyFace = kQuery;
  emptyFace[20] = 0;
  Bytes pastTheBound = Hex("07000000 01010000");  // 257 references, all present
  for (int i = 0; i < 257; ++i) pastTheBound.insert(pastTheBound.end(), kQuery.begin() + 8, kQuery.begin() + 84);
  const struct {
    const char* what;
    Bytes query;
  } cases[] = {
      {"another code", WithField(kQuery, 0, MSG_FONT_DATA)},
      {"shorter than the count", Hex("07000000 0000")},
      {"a reference cut short", Bytes(kQuery.begin(), kQuery.end() - 1)},
      {"more references than it holds", WithField(kQuery, 4, 3)},
      {"past the bound", pastTheBound},
      {"italic 2", WithField(kQuery, 12, 2)},
      {"charset 256", WithField(kQuery, 16, 256)},
      {"face without NUL", noNul},
      {"empty face", emptyFace},
  };
  for (const auto& c : cases) EXPECT_FALSE(ParseFontQuery(c.query)) << c.what;
  // Fields a later version appends are ignored.
  EXPECT_EQ(ParseFontQuery(Join({kQuery, Pattern(9)})), kQueried);
}

TEST(FontMessages, ParsersRefuseMalformedAnswersAndData) {
  EXPECT_FALSE(ParseFontQueryAnswer(kAnswer, 3));  // not the number queried
  EXPECT_FALSE(ParseFontQueryAnswer(kAnswer, 1));
  EXPECT_FALSE(ParseFontQueryAnswer(WithField(kAnswer, 0, MSG_FONT_DATA), 2));
  EXPECT_FALSE(ParseFontQueryAnswer(Bytes(kAnswer.begin(), kAnswer.end() - 1), 2));
  EXPECT_FALSE(ParseFontQueryAnswer(Hex("07000000 02000000 01 02"), 2));
  EXPECT_FALSE(ParseFontQueryAnswer(Hex("07000000 0200"), 2));

  EXPECT_FALSE(ParseFontData(WithField(kFontData, 0, MSG_FONT_QUERY)));
  EXPECT_FALSE(ParseFontData(Bytes(kFontData.begin(), kFontData.end() - 1)));
  EXPECT_FALSE(ParseFontData(Bytes(kFontData.begin(), kFontData.begin() + 87)));
  EXPECT_FALSE(ParseFontData(WithField(kFontData, 80, 1)));           // runs one byte past
  EXPECT_FALSE(ParseFontData(WithField(kFontData, 80, 0xFFFFFFFF)));  // past, not wrapped around
  EXPECT_FALSE(ParseFontData(WithField(kFontData, 84, kJobFontBudget + 1)));
  EXPECT_FALSE(ParseFontData(WithField(kFontData, 8, 2)));  // italic 2
  // The data found through its offset, past bytes that are not its own.
  const Bytes farOffset = Join({WithField(Bytes(kFontData.begin(), kFontData.begin() + 88), 80, 2),
                                Hex("eeee 000100")});
  const auto data = ParseFontData(farOffset);
  ASSERT_TRUE(data);
  EXPECT_EQ(Bytes(data->font.begin(), data->font.end()), Hex("000100"));
}

TEST(FontBudget, TakesWhatIsLeftAndNothingPastIt) {
  CQuilFontBudget budget(100);
  EXPECT_TRUE(budget.Take(60));
  EXPECT_FALSE(budget.Take(41));
  EXPECT_EQ(budget.remaining(), 40u);
  EXPECT_FALSE(budget.Take(uint64_t{1} << 32 | 10));  // not wrapped into 32 bits
  EXPECT_TRUE(budget.Take(40));
  EXPECT_FALSE(budget.Take(1));
  EXPECT_TRUE(budget.Take(0));
  EXPECT_EQ(CQuilFontBudget().remaining(), 32u * 1024 * 1024);
}

}  // namespace
}  // namespace quil
