#include "EmfSpoolReader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ByteFixtures.h"
#include "JobDevMode.h"
#include "JobSettings.h"
#include "SpoolMessages.h"
#include "XcvPortName.h"

namespace quil {
namespace {

using test::Bytes;
using test::Join;
using test::Pattern;

Bytes U32(uint32_t value) {
  return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
          static_cast<uint8_t>(value >> 24)};
}

Bytes Header(uint32_t version = 0x10000, uint32_t size = 16) {
  Bytes header = Join({U32(version), U32(size), U32(0), U32(0)});
  header.resize(std::max<size_t>(size, 16), 0xEE);
  return header;
}

Bytes Record(uint32_t type, const Bytes& data) { return Join({U32(type), U32(static_cast<uint32_t>(data.size())), data}); }

// Delivers the data in pieces of the given sizes in turn; 0 after the end, or from `failAt` on.
class PieceSource : public IQuilSpoolSource {
 public:
  PieceSource(Bytes data, std::vector<size_t> pieces, size_t failAt = SIZE_MAX)
      : data_(std::move(data)), pieces_(std::move(pieces)), failAt_(failAt) {}

  size_t Read(uint8_t* buffer, size_t size) override {
    const size_t limit = std::min({size, pieces_[next_++ % pieces_.size()], data_.size() - position_,
                                   failAt_ > position_ ? failAt_ - position_ : size_t{0}});
    std::copy_n(data_.begin() + position_, limit, buffer);
    position_ += limit;
    return limit;
  }
  size_t position() const { return position_; }

 private:
  Bytes data_;
  std::vector<size_t> pieces_;
  size_t failAt_;
  size_t position_ = 0;
  size_t next_ = 0;
};

std::vector<Bytes> Pages(const Bytes& data, std::vector<size_t> pieces = {1, 3, 1000, 7}) {
  PieceSource source(data, std::move(pieces));
  CQuilSpoolReader reader(source);
  std::vector<Bytes> pages;
  if (!reader.ReadHeader()) return pages;
  Bytes page;
  while (reader.NextPage(page)) pages.push_back(page);
  return pages;
}

TEST(EmfSpoolReader, ReadsThePagesInFileOrderSkippingOtherRecords) {
  const Bytes page1 = Pattern(300), page2 = Pattern(17), page3 = Pattern(4000);
  const Bytes data = Join({Header(0x10000, 40), Record(3, Pattern(20)), Record(12, page1), Record(13, Pattern(8)),
                           Record(12, page2), Record(2, Pattern(1)), Record(14, Pattern(5000)), Record(12, page3)});
  EXPECT_EQ(Pages(data), (std::vector<Bytes>{page1, page2, page3}));
  EXPECT_EQ(Pages(data, {1}), (std::vector<Bytes>{page1, page2, page3}));
}

// A DEVMODEW's bytes: dmSize states `publicSize`, dmOrientation holds `orientation`.
Bytes DevModeRecordData(uint16_t publicSize, size_t length, uint8_t orientation) {
  Bytes devMode(length, 0x5A);
  devMode[DevModeLayout::kSize] = static_cast<uint8_t>(publicSize);
  devMode[DevModeLayout::kSize + 1] = static_cast<uint8_t>(publicSize >> 8);
  devMode[DevModeLayout::kOrientation] = orientation;
  return devMode;
}

// The orientation each page's settings carry, 0 where no settings came before the page.
std::vector<int> PageOrientations(const Bytes& data) {
  PieceSource source(data, {5, 1, 4096});
  CQuilSpoolReader reader(source);
  std::vector<int> orientations;
  if (!reader.ReadHeader()) return orientations;
  Bytes page;
  SpoolPageSettings settings;
  while (reader.NextPage(page, 0, &settings)) {
    orientations.push_back(settings.changed ? settings.devMode[DevModeLayout::kOrientation] : 0);
  }
  return orientations;
}

TEST(EmfSpoolReader, DeviceSettingsRecordsApplyToThePageAfterThemAndUntrustworthyOnesAreSkipped) {
  const Bytes page = Record(12, Pattern(40));
  const struct {
    const char* what;
    Bytes data;
    std::vector<int> orientations;
  } cases[] = {
      {"a record between pages, after the page's data and before its offset record",
       Join({Header(), page, Record(3, DevModeRecordData(220, 1032, 2)), Record(13, Pattern(8)), page, page}),
       {0, 2, 0}},
      {"the last of several records before a page counts",
       Join({Header(), Record(3, DevModeRecordData(220, 220, 2)), Record(3, DevModeRecordData(156, 160, 1)), page}),
       {1}},
      {"dmSize too short to state dmFields", Join({Header(), Record(3, DevModeRecordData(75, 220, 2)), page}), {0}},
      {"dmSize beyond the record", Join({Header(), Record(3, DevModeRecordData(220, 200, 2)), page}), {0}},
      {"larger than any DEVMODEW",
       Join({Header(), Record(3, DevModeRecordData(220, 2 * 0xFFFF + 4, 2)), page}), {0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PageOrientations(c.data), c.orientations);
    EXPECT_EQ(Pages(c.data).size(), c.orientations.size());
  }
}

TEST(EmfSpoolReader, DataWithoutPageRecordsHasNoPages) {
  EXPECT_TRUE(Pages(Join({Header(), Record(3, Pattern(20)), Record(13, Pattern(8))})).empty());
}

TEST(EmfSpoolReader, ZeroSizeRecordEndsThePages) {
  const Bytes page = Pattern(30);
  EXPECT_EQ(Pages(Join({Header(), Record(12, page), Record(3, {}), Record(12, page)})), std::vector<Bytes>{page});
  EXPECT_EQ(Pages(Join({Header(), Record(12, page), Record(12, {}), Record(12, page)})), std::vector<Bytes>{page});
}

TEST(EmfSpoolReader, RefusesHeadersThatAreNotEmfSpoolData) {
  const Bytes tail = Record(12, Pattern(30));
  const Bytes valid = Header();
  const Bytes shortHeader(valid.begin(), valid.begin() + 12);
  for (const Bytes& data : {Join({Header(0x20000), tail}), Join({Header(0x100), tail}),
                            Join({Header(0x10000, 15), tail}), Join({Header(0x10000, 0), tail}), shortHeader}) {
    PieceSource source(data, {64});
    CQuilSpoolReader reader(source);
    EXPECT_FALSE(reader.ReadHeader());
  }
  // A header that declares more than the data holds.
  PieceSource source(Join({U32(0x10000), U32(1000), U32(0), U32(0), Pattern(20)}), {64});
  CQuilSpoolReader reader(source);
  EXPECT_FALSE(reader.ReadHeader());
}

TEST(EmfSpoolReader, DataEndingInsideARecordEndsThePages) {
  const Bytes page = Pattern(30);
  const Bytes data = Join({Header(), Record(12, page), Record(12, Pattern(50))});
  for (size_t cut : {data.size() - 1, data.size() - 50, data.size() - 55}) {
    EXPECT_EQ(Pages(Bytes(data.begin(), data.begin() + cut)), std::vector<Bytes>{page}) << "cut at " << cut;
  }
  // A skipped record that claims more than remains.
  EXPECT_EQ(Pages(Join({Header(), Record(12, page), U32(3), U32(0x7FFFFFFF), Pattern(10)})), std::vector<Bytes>{page});
}

TEST(EmfSpoolReader, PageClaimingMoreThanTheDataHoldsCostsOnlyWhatArrives) {
  PieceSource source(Join({Header(), U32(12), U32(0xFFFFFFF0), Pattern(100)}), {64});
  CQuilSpoolReader reader(source);
  ASSERT_TRUE(reader.ReadHeader());
  Bytes page;
  EXPECT_FALSE(reader.NextPage(page));
  EXPECT_TRUE(page.empty());
}

// The port monitor reads each page straight into its page message and reuses the buffer.
TEST(EmfSpoolReader, PagesReadIntoOneMessageBufferMakeThePageMessages) {
  const Bytes large = Pattern(5000);
  const Bytes small = Pattern(70);
  PieceSource source(Join({Header(), Record(12, large), Record(3, Pattern(9)), Record(12, small)}), {1, 3, 1000, 7});
  CQuilSpoolReader reader(source);
  ASSERT_TRUE(reader.ReadHeader());
  Bytes message;
  ASSERT_TRUE(reader.NextPage(message, kPageMetafileStart));
  ASSERT_TRUE(CompletePage(message));
  EXPECT_EQ(message, BuildPage(large));
  const uint8_t* storage = message.data();
  ASSERT_TRUE(reader.NextPage(message, kPageMetafileStart));
  ASSERT_TRUE(CompletePage(message));
  EXPECT_EQ(message, BuildPage(small));
  EXPECT_EQ(message.data(), storage) << "the smaller page reuses the buffer";
  EXPECT_FALSE(reader.NextPage(message, kPageMetafileStart));
  Bytes tooShort(kPageMetafileStart - 1, 0xAA);
  EXPECT_FALSE(CompletePage(tooShort));
  EXPECT_EQ(tooShort, Bytes(kPageMetafileStart - 1, 0xAA));
}

TEST(EmfSpoolReader, ReadFailureEndsThePagesWithoutReadingFurther) {
  const Bytes page = Pattern(30);
  const Bytes data = Join({Header(), Record(12, page), Record(12, page), Record(12, page)});
  PieceSource source(data, {5}, 16 + 38 + 20);
  CQuilSpoolReader reader(source);
  ASSERT_TRUE(reader.ReadHeader());
  Bytes read;
  EXPECT_TRUE(reader.NextPage(read));
  EXPECT_FALSE(reader.NextPage(read));
  EXPECT_FALSE(reader.NextPage(read));
  EXPECT_EQ(source.position(), 16u + 38u + 20u);
}

Bytes DevMode(uint16_t dmSize, size_t total) {
  Bytes devMode = Pattern(total);
  if (total >= 70) {
    devMode[68] = static_cast<uint8_t>(dmSize);
    devMode[69] = static_cast<uint8_t>(dmSize >> 8);
  }
  return devMode;
}

TEST(JobDevMode, CopiesThePublicPartUpTo220Bytes) {
  const Bytes full = DevMode(220, 220 + 96);  // with driver-private bytes
  const DevModeBlock block = DevModeBlockOf(full);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), full.begin()));
}

TEST(JobDevMode, CopiesOnlyTheBytesAShorterDevModeHas) {
  const Bytes small = DevMode(156, 156 + 40);  // an older, shorter DEVMODEW with private bytes after it
  const DevModeBlock block = DevModeBlockOf(small);
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 156, small.begin()));
  EXPECT_TRUE(std::all_of(block.begin() + 156, block.end(), [](uint8_t b) { return b == 0; }));
}

TEST(JobDevMode, NeverReadsPastTheAvailableBytes) {
  const Bytes cut = DevMode(220, 100);  // claims 220, only 100 are there
  const DevModeBlock block = DevModeBlockOf(cut);
  EXPECT_TRUE(std::equal(block.begin(), block.begin() + 100, cut.begin()));
  EXPECT_TRUE(std::all_of(block.begin() + 100, block.end(), [](uint8_t b) { return b == 0; }));
}

TEST(JobDevMode, NoDevModeOrNoRoomForItsSizeGivesZeros) {
  for (const Bytes& devMode : {Bytes{}, Pattern(69)}) {
    const DevModeBlock block = DevModeBlockOf(devMode);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST(XcvPortName, TakesTheNameUpToItsNulInsideTheInput) {
  EXPECT_EQ(ParseXcvPortName(Bytes{'Q', 0, 'P', 0, 0, 0}), u"QP");
  EXPECT_EQ(ParseXcvPortName(Bytes{'Q', 0, 0, 0, 'X', 0}), u"Q");
}

TEST(XcvPortName, RefusesNamesWithoutANulInsideTheInputAndEmptyNames) {
  EXPECT_FALSE(ParseXcvPortName(Bytes{}));
  EXPECT_FALSE(ParseXcvPortName(Bytes{'Q', 0, 'P', 0}));
  EXPECT_FALSE(ParseXcvPortName(Bytes{'Q', 0, 0}));
  EXPECT_FALSE(ParseXcvPortName(Bytes{0, 0}));
}

}  // namespace
}  // namespace quil
