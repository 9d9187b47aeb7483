#include "SpoolMessages.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ByteFixtures.h"
#include "PageCompression.h"

namespace quil {
namespace {

using test::Bytes;
using test::Join;
using test::Pattern;

DevModeBlock TestDevMode() {
  DevModeBlock devMode;
  const Bytes pattern = Pattern(devMode.size());
  std::copy(pattern.begin(), pattern.end(), devMode.begin());
  return devMode;
}

// Job start for printer "P1" and document "Doc".
const Bytes kJobStart = Join({
    {0x02, 0x00, 0x00, 0x00},                   // code MSG_START_DOC
    Pattern(220),                               // DEVMODEW, first 220 bytes
    {0x08, 0x00, 0x00, 0x00},                   // printer-name offset 2 * (3 + 1)
    {0x00, 0x00, 0x00, 0x00},                   // document-name offset 0
    {'D', 0x00, 'o', 0x00, 'c', 0x00, 0, 0},  // document name "Doc", NUL
    {'P', 0x00, '1', 0x00, 0x00, 0x00},         // printer name "P1", NUL
});

// Page carrying the three-byte "metafile" AA BB CC.
const Bytes kPage = Join({
    {0x04, 0x00, 0x00, 0x00},  // code MSG_PAGE
    {0x01, 0x00, 0x00, 0x00},  // data offset 1
    {0x03, 0x00, 0x00, 0x00},  // data size 3
    {0x00},                    // filler
    {0xAA, 0xBB, 0xCC},        // metafile
});

Bytes WithField(Bytes message, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) message[position + i] = static_cast<uint8_t>(value >> 8 * i);
  return message;
}

TEST(JobStartMessages, BuildByteExact) {
  EXPECT_EQ(BuildJobStart(TestDevMode(), u"P1", u"Doc"), kJobStart);
  EXPECT_EQ(BuildJobStart(TestDevMode(), u"P1", u"Doc").size(), 236u + 2 * (2 + 3));
}

TEST(JobStartMessages, EmptyDocumentNameIsOneNul) {
  const Bytes message = BuildJobStart(TestDevMode(), u"P", u"");
  const Bytes tail(message.begin() + 224, message.end());
  EXPECT_EQ(tail, Join({
                      {0x02, 0x00, 0x00, 0x00},  // printer-name offset 2
                      {0x00, 0x00, 0x00, 0x00},  // document-name offset 0
                      {0x00, 0x00},              // document name "", NUL
                      {'P', 0x00, 0x00, 0x00},   // printer name "P", NUL
                  }));
  EXPECT_EQ(ParseJobStart(message), (JobStart{TestDevMode(), u"P", u""}));
}

TEST(JobStartMessages, ParseFindsNamesThroughTheirOffsets) {
  EXPECT_EQ(ParseJobStart(kJobStart), (JobStart{TestDevMode(), u"P1", u"Doc"}));
  // Names swapped, the printer name at an odd offset.
  const Bytes swapped = Join({
      Bytes(kJobStart.begin(), kJobStart.begin() + 224),  // code, DEVMODEW
      {0x01, 0x00, 0x00, 0x00},                           // printer-name offset 1
      {0x07, 0x00, 0x00, 0x00},                           // document-name offset 7
      {0xEE},                                             // unused byte
      {'P', 0x00, '1', 0x00, 0x00, 0x00},                 // printer name "P1", NUL
      {'D', 0x00, 0x00, 0x00},                            // document name "D", NUL
  });
  EXPECT_EQ(ParseJobStart(swapped), (JobStart{TestDevMode(), u"P1", u"D"}));
}

TEST(JobStartMessages, RefuseMalformed) {
  const Bytes fixedOnly(kJobStart.begin(), kJobStart.begin() + 232);
  EXPECT_FALSE(ParseJobStart(Bytes(fixedOnly.begin(), fixedOnly.end() - 1)));  // 231 bytes
  EXPECT_FALSE(ParseJobStart(fixedOnly));                                     // no names
  EXPECT_FALSE(ParseJobStart(Bytes(kJobStart.begin(), kJobStart.end() - 2)));  // no printer NUL
  EXPECT_FALSE(ParseJobStart(WithField(kJobStart, 0, MSG_PAGE)));
  EXPECT_FALSE(ParseJobStart(WithField(kJobStart, 224, 14)));  // printer offset at the end
  EXPECT_FALSE(ParseJobStart(WithField(kJobStart, 224, 0xFFFFFFFF)));
  EXPECT_FALSE(ParseJobStart(WithField(kJobStart, 228, 0xFFFFFF18)));  // wraps to 0 in 32 bits
}

TEST(PageMessages, BuildByteExact) {
  EXPECT_EQ(BuildPage(Bytes{0xAA, 0xBB, 0xCC}), kPage);
  EXPECT_EQ(BuildPage(Pattern(1000)).size(), 13u + 1000);
}

TEST(PageMessages, ParseLocatesDataThroughOffsetWithoutCopy) {
  const auto metafile = ParsePage(kPage);
  ASSERT_TRUE(metafile);
  EXPECT_EQ(metafile->data(), kPage.data() + 13);  // past the filler byte, not at byte 12
  EXPECT_EQ(Bytes(metafile->begin(), metafile->end()), (Bytes{0xAA, 0xBB, 0xCC}));

  const Bytes farOffset = Join({
      {0x04, 0x00, 0x00, 0x00},  // code MSG_PAGE
      {0x03, 0x00, 0x00, 0x00},  // data offset 3
      {0x02, 0x00, 0x00, 0x00},  // data size 2
      {0x11, 0x22, 0x33},        // bytes before the data
      {0x44, 0x55},              // metafile
  });
  const auto data = ParsePage(farOffset);
  ASSERT_TRUE(data);
  EXPECT_EQ(Bytes(data->begin(), data->end()), (Bytes{0x44, 0x55}));
}

TEST(PageMessages, RefuseMalformed) {
  EXPECT_FALSE(ParsePage(Bytes(kPage.begin(), kPage.begin() + 11)));
  EXPECT_FALSE(ParsePage(Bytes(kPage.begin(), kPage.end() - 1)));  // data runs one byte past
  EXPECT_FALSE(ParsePage(WithField(kPage, 0, MSG_START_DOC)));
  EXPECT_FALSE(ParsePage(WithField(kPage, 4, 2)));  // offset 2 + size 3 runs past
  EXPECT_FALSE(ParsePage(WithField(kPage, 4, 0xFFFFFFFF)));
  EXPECT_FALSE(ParsePage(WithField(kPage, 8, 0xFFFFFFFF)));
  // In 32 bits, 12 + offset wraps to 0; and 16 + size to 13.
  EXPECT_FALSE(ParsePage(WithField(kPage, 4, 0xFFFFFFF4)));
  EXPECT_FALSE(ParsePage(WithField(WithField(kPage, 4, 4), 8, 0xFFFFFFFD)));
}

TEST(CodeOnlySpoolMessages, BuildByteExact) {
  EXPECT_EQ(BuildJobEnd(), (Bytes{0x03, 0x00, 0x00, 0x00}));       // code MSG_END_DOC
  EXPECT_EQ(BuildJobStartAck(), (Bytes{0x02, 0x00, 0x00, 0x00}));  // code MSG_START_DOC
  EXPECT_EQ(BuildJobEndAck(), (Bytes{0x03, 0x00, 0x00, 0x00}));    // code MSG_END_DOC
  EXPECT_EQ(BuildPageAck(), Join({
                                {0x04, 0x00, 0x00, 0x00},  // code MSG_PAGE
                                {0x00, 0x00, 0x00, 0x00},  // no information
                                {0x00, 0x00, 0x00, 0x00},  // no information
                            }));
}

// A page of text-like records: shrinks several times under zlib, as spool pages do.
Bytes CompressiblePage() {
  Bytes page;
  for (int line = 0; page.size() < 20000; ++line) {
    for (const char c : "EMR_EXTTEXTOUTW Quarterly report, line ") page.push_back(static_cast<uint8_t>(c));
    page.push_back(static_cast<uint8_t>(line));
  }
  return page;
}

TEST(CompressedPageMessages, BuildShrinksAndInflatesBackExactly) {
  const Bytes page = CompressiblePage();
  Bytes message;
  ASSERT_TRUE(BuildCompressedPage(page, kPageCompressionLevel, message));
  EXPECT_LT(message.size() * 4, page.size());
  EXPECT_EQ(Bytes(message.begin(), message.begin() + 12),
            Join({{0x06, 0, 0, 0}, WithField(Bytes(4), 0, static_cast<uint32_t>(page.size())),
                  WithField(Bytes(4), 0, static_cast<uint32_t>(message.size() - 12))}));
  Bytes inflated{1, 2, 3};
  ASSERT_TRUE(InflateCompressedPage(message, inflated));
  EXPECT_EQ(inflated, page);
  // A page that does not shrink is left to travel as it is.
  EXPECT_FALSE(BuildCompressedPage(Pattern(64), kPageCompressionLevel, message));
  EXPECT_FALSE(BuildCompressedPage({}, kPageCompressionLevel, message));
}

TEST(CompressedPageMessages, RefuseWhatDoesNotInflateToTheAnnouncedSize) {
  const Bytes page = CompressiblePage();
  Bytes good;
  ASSERT_TRUE(BuildCompressedPage(page, kPageCompressionLevel, good));
  const auto size = static_cast<uint32_t>(page.size());
  const auto dataSize = static_cast<uint32_t>(good.size() - 12);
  Bytes trailing = WithField(good, 8, dataSize + 2);
  trailing.insert(trailing.end(), {0x00, 0x00});
  Bytes corrupt = good;
  corrupt[good.size() / 2] ^= 0xFF;
  const struct {
    const char* what;
    Bytes message;
  } cases[] = {
      {"announces one byte fewer", WithField(good, 4, size - 1)},
      {"announces one byte more", WithField(good, 4, size + 1)},
      {"announces nothing", WithField(good, 4, 0)},
      {"data cut short", WithField(Bytes(good.begin(), good.end() - 1), 8, dataSize - 1)},
      {"data size past the message", WithField(good, 8, dataSize + 1)},
      {"bytes after the stream", trailing},
      {"corrupt stream", corrupt},
      {"past the largest page", WithField(good, 4, kMaxCompressedPageMetafile + 1)},
      {"past what zlib can expand", WithField(WithField(good, 4, 1033 * 8), 8, 8)},
      {"another code", WithField(good, 0, MSG_PAGE)},
      {"shorter than the fixed part", Bytes(good.begin(), good.begin() + 11)},
  };
  for (const auto& c : cases) {
    Bytes inflated{1, 2, 3};
    EXPECT_FALSE(InflateCompressedPage(c.message, inflated)) << c.what;
    EXPECT_TRUE(inflated.empty()) << c.what;
  }
}

}  // namespace
}  // namespace quil
