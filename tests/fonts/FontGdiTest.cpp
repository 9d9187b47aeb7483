// The fonts of a job through Wine's GDI: fonts made for the tests, with faces no computer has, are
// loaded into the test's own process as the client loads a received font; the server's reading
// of a font's data then finds them as it finds an installed font.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "FontData.h"
#include "FontMessages.h"
#include "FontReference.h"
#include "JobFonts.h"
#include "ReferencedFont.h"
#include "SimImportSlot.h"
#include "TestFonts.h"
#include "UniqueGdi.h"

namespace quil {
namespace {

using test::BuildCollection;
using test::BuildTestFont;
using test::FontBytes;
using AddResult = CQuilJobFonts::AddResult;

// Every call of the executable to load or remove a font from memory passes through these, which
// record it and call GDI's own. Wine's RemoveFontMemResourceEx leaves the font in place (a stub
// in Wine 8), so a font's removal shows as the call with the handle that loading it returned.
struct FontResourceCalls {
  std::vector<HANDLE> added;
  std::vector<HANDLE> removed;
};
FontResourceCalls calls;

template <typename Function>
Function Gdi(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"gdi32.dll"), name)));
}

HANDLE WINAPI RecordingAddFontMemResourceEx(PVOID font, DWORD size, PVOID reserved, DWORD* loaded) {
  static const auto add = Gdi<decltype(&RecordingAddFontMemResourceEx)>("AddFontMemResourceEx");
  const HANDLE fonts = add(font, size, reserved, loaded);
  calls.added.push_back(fonts);
  return fonts;
}

BOOL WINAPI RecordingRemoveFontMemResourceEx(HANDLE fonts) {
  static const auto remove = Gdi<decltype(&RecordingRemoveFontMemResourceEx)>("RemoveFontMemResourceEx");
  calls.removed.push_back(fonts);
  return remove(fonts);
}

}  // namespace
}  // namespace quil

decltype(&quil::RecordingAddFontMemResourceEx) addFontSlot __asm__(SIM_IMPORT_SLOT(AddFontMemResourceEx, 16)) =
    &quil::RecordingAddFontMemResourceEx;
decltype(&quil::RecordingRemoveFontMemResourceEx) removeFontSlot __asm__(SIM_IMPORT_SLOT(RemoveFontMemResourceEx, 4)) =
    &quil::RecordingRemoveFontMemResourceEx;

namespace quil {
namespace {

std::vector<HANDLE> Sorted(std::vector<HANDLE> handles) {
  std::sort(handles.begin(), handles.end());
  return handles;
}

FontReference Regular(const std::u16string& face) { return {face, 400, false, 0}; }

// The font data as the server reads it, with room for a message's fixed part before it.
struct ServerRead {
  FontDataRead read;
  FontBytes font;
};

ServerRead ReadOnServer(const FontReference& reference, uint32_t maxSize = kJobFontBudget) {
  std::vector<uint8_t> data;
  const FontDataRead read = ReadFontData(reference, maxSize, data, kFontDataStart);
  if (read.result != FontDataResult::kRead) return {read, {}};
  return {read, FontBytes(data.begin() + kFontDataStart, data.end())};
}

TEST(JobFonts, AFontLoadedForTheJobIsPresentAndReadableAndRemovedAtTheJobsEnd) {
  const FontReference reference = Regular(u"Quillon Test Face");
  const FontBytes font = BuildTestFont(reference.faceName);
  const FontReference elsewhere = Regular(u"Quillon Face Nobody Has");
  EXPECT_FALSE(HasFont(reference));
  EXPECT_EQ(ReadOnServer(reference).read.result, FontDataResult::kNotInstalled);
  {
    CQuilJobFonts job;
    ASSERT_EQ(job.Add(font), AddResult::kLoaded);
    ASSERT_EQ(job.Add(BuildTestFont(u"Quillon Second Face")), AddResult::kLoaded);
    EXPECT_TRUE(HasFont(reference));
    EXPECT_TRUE(HasFont(Regular(u"QUILLON test face")));
    EXPECT_TRUE(HasFont({reference.faceName, 700, true, 0}));  // GDI makes bold and italic of it
    EXPECT_EQ(LackingFonts(std::vector{reference, elsewhere, Regular(u"Quillon Second Face")}),
              (std::vector<bool>{false, true, false}));

    const ServerRead read = ReadOnServer(reference);
    EXPECT_EQ(read.read.result, FontDataResult::kRead);
    EXPECT_EQ(read.read.size, font.size());
    EXPECT_EQ(read.font, font);
    const ServerRead tooLarge = ReadOnServer(reference, static_cast<uint32_t>(font.size() - 1));
    EXPECT_EQ(tooLarge.read.result, FontDataResult::kTooLarge);
    EXPECT_EQ(tooLarge.read.size, font.size());
    EXPECT_EQ(ReadOnServer(elsewhere).read.result, FontDataResult::kNotInstalled);
    EXPECT_EQ(calls.removed, std::vector<HANDLE>{});
  }
  ASSERT_EQ(calls.added.size(), 2u);
  EXPECT_NE(calls.added[0], nullptr);
  EXPECT_EQ(Sorted(calls.removed), Sorted(calls.added));
}

TEST(JobFonts, AFontOfACollectionIsReadAsTheWholeCollection) {
  const FontBytes collection = BuildCollection({BuildTestFont(u"Quillon Pair One"), BuildTestFont(u"Quillon Pair Two")});
  CQuilJobFonts job;
  ASSERT_EQ(job.Add(collection), AddResult::kLoaded);
  for (const char16_t* face : {u"Quillon Pair One", u"Quillon Pair Two"}) {
    const ServerRead read = ReadOnServer(Regular(face));
    EXPECT_EQ(read.read.result, FontDataResult::kRead);
    EXPECT_EQ(read.font, collection);
  }
}

// A font whose directory lists a table past its end, which a font loader that skips broken tables
// would load.
FontBytes WithTablePastTheEnd(const std::u16string& face) {
  auto tables = test::TestFontTables(face, 0);
  tables.push_back({test::Tag("zzzz"), FontBytes(8, 0)});
  FontBytes font = test::BuildSfnt(0x00010000, tables);
  font[12 + 16 * 10 + 12] = 0x7F;  // the last record's length
  return font;
}

TEST(JobFonts, TheHolderLoadsOnlySfntDataWithinTheJobsBudget) {
  const FontBytes first = BuildTestFont(u"Quillon Budget One");
  const FontBytes second = BuildTestFont(u"Quillon Budget Two");
  auto job = std::make_unique<CQuilJobFonts>(static_cast<uint32_t>(first.size() + second.size() - 1));
  const struct {
    const char* what;
    FontBytes font;
    std::u16string face;
    AddResult result;
  } cases[] = {
      {"a broken directory", WithTablePastTheEnd(u"Quillon Broken"), u"Quillon Broken", AddResult::kNotSfnt},
      {"no font", FontBytes(4000, 0x41), u"", AddResult::kNotSfnt},
      {"within the budget", first, u"Quillon Budget One", AddResult::kLoaded},
      {"past the budget", second, u"Quillon Budget Two", AddResult::kOverBudget},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(job->Add(c.font), c.result) << c.what;
    if (!c.face.empty()) {
      EXPECT_EQ(HasFont(Regular(c.face)), c.result == AddResult::kLoaded) << c.what;
    }
  }
  EXPECT_EQ(job->size(), 1u);
  EXPECT_EQ(calls.added.size(), 1u);  // GDI never saw the refused data
  job.reset();
  EXPECT_EQ(calls.removed, calls.added);
}

// GDI records each font a page creates as an EMR_EXTCREATEFONTINDIRECTW record with the LOGFONTW
// it was created from, whether or not the computer has the face.
TEST(JobFonts, APageRecordedByGdiListsTheFontsItCreates) {
  const std::vector<FontReference> fonts = {{u"Quillon Scan Face", 700, true, 0},
                                            {u"Quillon Barcode", 400, false, 2},
                                            {u"Quillon Scan Face", 700, true, 0}};
  HDC recorder = CreateEnhMetaFileW(nullptr, nullptr, nullptr, L"Page\0\0");
  ASSERT_TRUE(recorder);
  std::vector<UniqueGdiObject> created;
  for (const FontReference& reference : fonts) {
    LOGFONTW logFont = LogFontOf(reference);
    logFont.lfHeight = -40;
    created.emplace_back(CreateFontIndirectW(&logFont));
    SelectObject(recorder, created.back().get());
    TextOutW(recorder, 10, 10, L"A1", 2);
  }
  SelectObject(recorder, GetStockObject(SYSTEM_FONT));
  UniqueEnhMetaFile page(CloseEnhMetaFile(recorder));
  ASSERT_TRUE(page);
  std::vector<uint8_t> bytes(GetEnhMetaFileBits(page.get(), 0, nullptr));
  ASSERT_EQ(GetEnhMetaFileBits(page.get(), static_cast<UINT>(bytes.size()), bytes.data()), bytes.size());

  CQuilJobFontReferences job;
  EXPECT_EQ(job.AddPage(bytes), (std::vector<FontReference>{fonts[0], fonts[1]}));
  EXPECT_EQ(job.AddPage(bytes), std::vector<FontReference>{});
}

}  // namespace
}  // namespace quil
