#include "FontReference.h"

#include <gtest/gtest.h>

#include <string>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;
using test::Join;

Bytes U32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

// An enhanced metafile record: type, size of the whole record, then the data.
Bytes Record(uint32_t type, const Bytes& data) {
  return Join({U32(type), U32(static_cast<uint32_t>(8 + data.size())), data});
}

// The data of an EMR_EXTCREATEFONTINDIRECTW record: object index, LOGFONTW, then `extra` bytes
// (the rest of a longer logical font structure). `faceUnits` face name units are written; the
// rest of the 32 stay NUL.
Bytes FontRecordData(const std::u16string& face, int32_t weight, bool italic, uint8_t charset,
                     std::size_t extra = 0) {
  Bytes logFont(92, 0);
  logFont[0] = 0xF4;  // height -12, which the reference does not keep
  logFont[1] = logFont[2] = logFont[3] = 0xFF;
  const Bytes weightBytes = U32(static_cast<uint32_t>(weight));
  std::copy(weightBytes.begin(), weightBytes.end(), logFont.begin() + 16);
  logFont[20] = italic ? 1 : 0;
  logFont[23] = charset;
  for (std::size_t i = 0; i < face.size(); ++i) {
    logFont[28 + 2 * i] = static_cast<uint8_t>(face[i]);
    logFont[29 + 2 * i] = static_cast<uint8_t>(face[i] >> 8);
  }
  return Join({U32(1), logFont, Bytes(extra, 0xAB)});
}

Bytes FontRecord(const FontReference& font, std::size_t extra = 0) {
  return Record(82, FontRecordData(font.faceName, font.weight, font.italic, font.charset, extra));
}

const Bytes kHeader = Record(1, Bytes(100, 0));  // EMR_HEADER, its contents not read
const Bytes kEof = Record(14, U32(0));
const FontReference kSerif{u"Corporate Serif", 400, false, 0};
const FontReference kSerifBold{u"Corporate Serif", 700, false, 0};
const FontReference kBarcode{u"Barcode 39", 0, false, 2};
const FontReference kGreekItalic{u"Corporate Serif", 400, true, 161};
const FontReference kLast{u"Last", 400, false, 0};

using References = std::vector<FontReference>;

TEST(JobFontReferences, ListEachFontOncePerJobInTheOrderOfItsFirstRecord) {
  CQuilJobFontReferences job;
  const Bytes page1 = Join({kHeader, FontRecord(kSerif, 276), Record(84, Bytes(40, 1)), FontRecord(kBarcode),
                            FontRecord(kSerif), kEof});
  const Bytes page2 = Join({kHeader, FontRecord(kBarcode), FontRecord(kGreekItalic), FontRecord(kSerifBold), kEof});
  EXPECT_EQ(job.AddPage(page1), (References{kSerif, kBarcode}));
  EXPECT_EQ(job.AddPage(page2), (References{kGreekItalic, kSerifBold}));
  EXPECT_EQ(job.AddPage(page1), References{});
  EXPECT_EQ(job.size(), 4u);
}

// The walk ends at the first record that is not well formed, or at the end of file record.
TEST(JobFontReferences, WalkEndsAtAMalformedRecordOrTheEndOfFile) {
  const Bytes before = Join({kHeader, FontRecord(kSerif)});
  const Bytes after = FontRecord(kLast);
  const Bytes pastTheEnd = Join({U32(84), U32(16), U32(0)});  // states 16 bytes, has 12
  const struct {
    const char* what;
    Bytes metafile;
    References listed;
  } cases[] = {
      {"all well formed", Join({before, after}), {kSerif, kLast}},
      {"size not a multiple of 4", Join({before, U32(84), U32(10), Bytes(4, 0), after}), {kSerif}},
      {"size below the record head", Join({before, U32(84), U32(4), after}), {kSerif}},
      {"size 0", Join({before, U32(84), U32(0), after}), {kSerif}},
      {"record past the end", Join({before, pastTheEnd}), {kSerif}},
      {"font record past the end", Join({before, Bytes(after.begin(), after.end() - 4)}), {kSerif}},
      {"head cut short", Join({before, Bytes{82, 0, 0, 0, 104, 0}}), {kSerif}},
      {"end of file before it", Join({before, kEof, after}), {kSerif}},
      {"empty", {}, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(CQuilJobFontReferences().AddPage(c.metafile), c.listed) << c.what;
}

TEST(JobFontReferences, PassOverFontRecordsThatNameNoFont) {
  const std::u16string longest(31, u'W');
  const std::u16string unterminated(32, u'W');
  Bytes shortRecord = FontRecord(kSerif);
  shortRecord.resize(100);  // a LOGFONTW needs 12 + 92 bytes
  shortRecord[4] = 100;
  const struct {
    const char* what;
    Bytes record;
    References listed;
  } cases[] = {
      {"too short for a LOGFONTW", shortRecord, {kLast}},
      {"empty face name", Record(82, FontRecordData(u"", 400, false, 0)), {kLast}},
      {"face name without NUL", Record(82, FontRecordData(unterminated, 400, false, 0)), {kLast}},
      {"face name of 31 units", Record(82, FontRecordData(longest, 400, false, 0)),
       {{longest, 400, false, 0}, kLast}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CQuilJobFontReferences().AddPage(Join({kHeader, c.record, FontRecord(kLast), kEof})), c.listed)
        << c.what;
  }
}

TEST(JobFontReferences, AJobListsAtMostItsBound) {
  Bytes page = kHeader;
  for (int i = 0; i < 300; ++i) {
    const Bytes record = FontRecord({u"Face " + std::u16string(1, char16_t(u'A' + i / 26)) +
                                         std::u16string(1, char16_t(u'a' + i % 26)),
                                     400, false, 0});
    page.insert(page.end(), record.begin(), record.end());
  }
  CQuilJobFontReferences job;
  EXPECT_EQ(job.AddPage(page).size(), CQuilJobFontReferences::kMaxReferences);
  EXPECT_EQ(job.AddPage(Join({kHeader, FontRecord(kLast)})), References{});
  EXPECT_EQ(job.size(), CQuilJobFontReferences::kMaxReferences);
}

}  // namespace
}  // namespace quil
