#include "SfntFont.h"

#include <gtest/gtest.h>

#include "ByteFixtures.h"
#include "TestFonts.h"

namespace quil {
namespace {

using test::Bytes;
using test::BuildCollection;
using test::BuildSfnt;
using test::BuildTestFont;
using test::Tag;

void PutBigEndian32(Bytes& bytes, std::size_t position, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[position + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

Bytes With32(Bytes bytes, std::size_t position, uint32_t value) {
  PutBigEndian32(bytes, position, value);
  return bytes;
}

// Directory record i of the font's offset table at 0.
std::size_t RecordAt(std::size_t i) { return SfntLayout::kDirectory + i * SfntLayout::kRecordSize; }

TEST(Sfnt, KnowsTheKindsAndRefusesWhatIsNone) {
  const Bytes font = BuildTestFont(u"Kind Test");
  const Bytes oneTable = BuildSfnt(SfntLayout::kOpenType, {{Tag("CFF "), Bytes(10, 1)}});
  const Bytes collection = BuildCollection({font, BuildTestFont(u"Second")});
  const Bytes lastTable = With32(font, RecordAt(9) + SfntLayout::kRecordOffset, static_cast<uint32_t>(font.size()));
  const struct {
    const char* what;
    Bytes data;
    SfntKind kind;
  } cases[] = {
      {"TrueType", font, SfntKind::kTrueType},
      {"Apple's TrueType tag", With32(font, 0, Tag("true")), SfntKind::kTrueType},
      {"OpenType", oneTable, SfntKind::kOpenType},
      {"collection", collection, SfntKind::kCollection},
      {"a table of 0 bytes at the very end", With32(lastTable, RecordAt(9) + SfntLayout::kRecordLength, 0),
       SfntKind::kTrueType},
      {"empty", {}, SfntKind::kNotSfnt},
      {"another tag", With32(font, 0, 0x00020000), SfntKind::kNotSfnt},
      {"a PostScript font", Bytes{'%', '!', 'P', 'S', '-', 'A', 'd', 'o', 'b', 'e'}, SfntKind::kNotSfnt},
      {"no tables", BuildSfnt(SfntLayout::kTrueType, {}), SfntKind::kNotSfnt},
      {"directory cut short", Bytes(font.begin(), font.begin() + RecordAt(9) + 15), SfntKind::kNotSfnt},
      {"a table past the end", With32(font, RecordAt(3) + SfntLayout::kRecordLength, 0x10000), SfntKind::kNotSfnt},
      {"a table one byte past the end", With32(lastTable, RecordAt(9) + SfntLayout::kRecordLength, 1),
       SfntKind::kNotSfnt},
      {"a table whose end wraps around", With32(With32(font, RecordAt(3) + 8, 0xFFFFFFF0), RecordAt(3) + 12, 0x20),
       SfntKind::kNotSfnt},
      {"collection of no font", With32(collection, SfntLayout::kFontCount, 0), SfntKind::kNotSfnt},
      {"collection past its bound", With32(collection, SfntLayout::kFontCount, kMaxCollectionFonts + 1),
       SfntKind::kNotSfnt},
      {"collection stating more fonts than it has", With32(collection, SfntLayout::kFontCount, 3),
       SfntKind::kNotSfnt},
      {"collection font past the end", With32(collection, SfntLayout::kFontOffsets + 4, 0xFFFFFFF0),
       SfntKind::kNotSfnt},
      {"collection inside a collection", With32(collection, SfntLayout::kFontOffsets + 4, 0), SfntKind::kNotSfnt},
  };
  for (const auto& c : cases) EXPECT_EQ(ReadSfntKind(c.data), c.kind) << c.what;
}

TEST(Sfnt, EmbeddingPermissionDecidesWhetherAFontTravels) {
  const auto withoutOs2 = [] {
    auto tables = test::TestFontTables(u"No OS2", 0);
    tables.erase(tables.begin());  // the OS/2 table comes first
    return BuildSfnt(SfntLayout::kTrueType, tables);
  };
  const auto shortOs2 = [] {
    auto tables = test::TestFontTables(u"Short OS2", 0);
    tables.front().second.resize(9);  // fsType needs bytes 8 and 9
    return BuildSfnt(SfntLayout::kTrueType, tables);
  };
  const struct {
    const char* what;
    Bytes data;
    FontEmbedding embedding;
  } cases[] = {
      {"installable", BuildTestFont(u"F", 0x0000), FontEmbedding::kAllowed},
      {"restricted license", BuildTestFont(u"F", 0x0002), FontEmbedding::kRestricted},
      {"preview and print", BuildTestFont(u"F", 0x0004), FontEmbedding::kAllowed},
      {"editable", BuildTestFont(u"F", 0x0008), FontEmbedding::kAllowed},
      {"restricted and preview and print", BuildTestFont(u"F", 0x0006), FontEmbedding::kAllowed},
      {"restricted and editable", BuildTestFont(u"F", 0x000A), FontEmbedding::kAllowed},
      {"restricted, no subsetting", BuildTestFont(u"F", 0x0102), FontEmbedding::kRestricted},
      {"installable, no subsetting", BuildTestFont(u"F", 0x0100), FontEmbedding::kAllowed},
      {"bitmaps only", BuildTestFont(u"F", 0x0204), FontEmbedding::kBitmapOnly},
      {"reserved bits", BuildTestFont(u"F", 0xFC01), FontEmbedding::kAllowed},
      {"no OS/2 table", withoutOs2(), FontEmbedding::kNoPermission},
      {"OS/2 table too short for fsType", shortOs2(), FontEmbedding::kNoPermission},
      {"collection of sendable fonts", BuildCollection({BuildTestFont(u"A", 0), BuildTestFont(u"B", 4)}),
       FontEmbedding::kAllowed},
      {"collection with a restricted font",
       BuildCollection({BuildTestFont(u"A", 8), BuildTestFont(u"B", 2), BuildTestFont(u"C", 0)}),
       FontEmbedding::kRestricted},
      {"not an sfnt", Bytes(100, 0), FontEmbedding::kNotSfnt},
  };
  for (const auto& c : cases) EXPECT_EQ(CheckFontEmbedding(c.data), c.embedding) << c.what;
}

}  // namespace
}  // namespace quil
