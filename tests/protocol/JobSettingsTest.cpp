#include "JobSettings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ByteFixtures.h"

namespace quil {
namespace {

using test::Bytes;
using test::Pattern;
using L = DevModeLayout;

void PutU16(std::span<uint8_t> block, std::size_t position, uint16_t value) {
  block[position] = static_cast<uint8_t>(value);
  block[position + 1] = static_cast<uint8_t>(value >> 8);
}
void PutU32(std::span<uint8_t> block, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) block[position + i] = static_cast<uint8_t>(value >> 8 * i);
}
uint16_t U16(std::span<const uint8_t> block, std::size_t position) {
  return static_cast<uint16_t>(block[position] | block[position + 1] << 8);
}
uint32_t U32(std::span<const uint8_t> block, std::size_t position) {
  return uint32_t{block[position]} | uint32_t{block[position + 1]} << 8 |
         uint32_t{block[position + 2]} << 16 | uint32_t{block[position + 3]} << 24;
}

// A DEVMODEW of `size` public bytes followed by `extra` driver-private bytes, filled with a
// pattern so that every byte is distinctive.
Bytes DevMode(uint16_t size, uint32_t fields, std::size_t extra = 0, uint8_t seed = 0) {
  Bytes block = Pattern(size + extra);
  for (auto& byte : block) byte = static_cast<uint8_t>(byte + seed);
  PutU16(block, L::kSize, size);
  PutU32(block, L::kFields, fields);
  return block;
}

DevModeBlock JobBlock(const Bytes& bytes) {
  DevModeBlock job{};
  std::copy_n(bytes.begin(), job.size(), job.begin());
  return job;
}

bool IsMergedByte(std::size_t position) {
  for (const JobSetting& setting : MergedJobSettings()) {
    if (position >= setting.offset && position < setting.offset + setting.size) return true;
  }
  return position >= L::kFields && position < L::kFields + 4;
}

TEST(JobSettingsTest, MergesTheFifteenSettingsInOrder) {
  const auto settings = MergedJobSettings();
  ASSERT_EQ(settings.size(), 15u);
  const uint32_t bits[] = {0x1,    0x2,    0x8,    0x4,     0x10,      0x100,     0x400,   0x800,
                           0x1000, 0x2000, 0x4000, 0x8000, 0x10000, 0x2000000, 0x4000000};
  for (std::size_t i = 0; i < settings.size(); ++i) EXPECT_EQ(settings[i].fieldBit, bits[i]) << i;
  EXPECT_EQ(settings[2].offset, L::kPaperWidth);
  EXPECT_EQ(settings[3].offset, L::kPaperLength);
  EXPECT_EQ(settings[12].size, 64u);
}

TEST(JobSettingsTest, TakesEveryValueAndOnlyTheJobsBits) {
  const DevModeBlock job = JobBlock(DevMode(220, 0x1 /* DM_ORIENTATION */, 0, 0x40));
  Bytes printer = DevMode(220, 0x80 /* DM_DEFAULTSOURCE */, 64);
  const Bytes before = printer;
  ASSERT_TRUE(MergeJobSettings(job, printer));
  for (std::size_t i = 0; i < printer.size(); ++i) {
    if (i >= L::kFields && i < L::kFields + 4) continue;
    EXPECT_EQ(printer[i], IsMergedByte(i) ? job[i] : before[i]) << "byte " << i;
  }
  EXPECT_EQ(U32(printer, L::kFields), 0x80u | 0x1u);
}

TEST(JobSettingsTest, ABitMissingFromTheJobsMaskLeavesThePrinterBitAsItWas) {
  Bytes jobBytes = DevMode(220, 0);
  PutU16(jobBytes, L::kOrientation, 2);  // landscape, without DM_ORIENTATION in the job's mask
  PutU16(jobBytes, L::kCopies, 7);       // without DM_COPIES
  Bytes printer = DevMode(220, 0x1 | 0x2);
  PutU16(printer, L::kOrientation, 1);
  ASSERT_TRUE(MergeJobSettings(JobBlock(jobBytes), printer));
  EXPECT_EQ(U16(printer, L::kOrientation), 2);
  EXPECT_EQ(U16(printer, L::kCopies), 7);
  EXPECT_EQ(U32(printer, L::kFields), 0x1u | 0x2u);
}

TEST(JobSettingsTest, OnlyTheMergedSettingsBitsComeFromTheJob) {
  Bytes printer = DevMode(220, 0x40000000);
  ASSERT_TRUE(MergeJobSettings(JobBlock(DevMode(220, 0xFFFFFFFF)), printer));
  uint32_t merged = 0;
  for (const JobSetting& setting : MergedJobSettings()) merged |= setting.fieldBit;
  EXPECT_EQ(U32(printer, L::kFields), 0x40000000u | merged);
}

TEST(JobSettingsTest, SettingsBeyondEitherPublicPartAreLeftAlone) {
  // An older DEVMODEW of 156 public bytes ends before the media and dither types; what follows it
  // is the driver's private data, which is neither read as a setting nor overwritten.
  Bytes printer = DevMode(156, 0, 80);
  const Bytes before = printer;
  const DevModeBlock job = JobBlock(DevMode(220, 0x2000000 | 0x1, 0, 0x33));
  ASSERT_TRUE(MergeJobSettings(job, std::span(printer).first(156)));
  EXPECT_TRUE(std::equal(printer.begin() + 156, printer.end(), before.begin() + 156));
  EXPECT_EQ(U16(printer, L::kOrientation), U16(job, L::kOrientation));
  EXPECT_EQ(U32(printer, L::kFields), 0x1u);

  Bytes shortJob = DevMode(156, 0x2000000 | 0x1, 64, 0x11);
  Bytes full = DevMode(220, 0);
  const Bytes fullBefore = full;
  ASSERT_TRUE(MergeJobSettings(JobBlock(shortJob), full));
  EXPECT_EQ(U32(full, L::kMediaType), U32(fullBefore, L::kMediaType));
  EXPECT_EQ(U16(full, L::kOrientation), U16(shortJob, L::kOrientation));
}

TEST(JobSettingsTest, BlocksTooShortForTheMaskChangeNothing) {
  Bytes printer = DevMode(220, 0);
  const Bytes before = printer;
  Bytes shortJob = DevMode(220, 0x1);
  PutU16(shortJob, L::kSize, 70);  // states a public part that ends before dmFields
  EXPECT_FALSE(MergeJobSettings(JobBlock(shortJob), printer));
  EXPECT_EQ(printer, before);
  Bytes tiny(40, 0);
  EXPECT_FALSE(MergeJobSettings(JobBlock(DevMode(220, 0x1)), tiny));
  Bytes claimsMore = DevMode(220, 0);
  claimsMore.resize(74);  // states 220 public bytes but holds 74
  EXPECT_FALSE(MergeJobSettings(JobBlock(DevMode(220, 0x1)), claimsMore));
}

}  // namespace
}  // namespace quil
