// Writes the PostScript that the render comparison turns into pixels: the same pages printed
// through the add-in and directly on the same printer, portrait and as a landscape job.
#include "ClientTestSupport.h"

#include <winspool.h>

#include "SpoolExtension.h"
#include "SpoolMessages.h"
#include "UniqueGdi.h"
#include "UniquePrinter.h"

namespace quil::test {
namespace {

const std::wstring kPortrait = L"Quillon Render Portrait";
const std::wstring kLandscape = L"Quillon Render Landscape";

// Pages of several kinds, one with a picture frame far wider than the printable area; the last
// shows the orientation.
std::vector<Bytes> RenderPages() {
  return {MakePageMetafile(1), MakePageMetafile(2, 30000, 12000), MakePageMetafile(3),
          MakeBandPageMetafile()};
}

// The printer's own device settings.
std::vector<BYTE> PrinterDevMode(const std::wstring& printer) {
  UniquePrinter handle;
  if (!OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), handle.put(), nullptr)) return {};
  const LONG size = DocumentPropertiesW(nullptr, handle.get(), const_cast<LPWSTR>(printer.c_str()),
                                        nullptr, nullptr, 0);
  if (size <= 0) return {};
  std::vector<BYTE> devMode(size);
  auto* fields = reinterpret_cast<DEVMODEW*>(devMode.data());
  if (DocumentPropertiesW(nullptr, handle.get(), const_cast<LPWSTR>(printer.c_str()), fields,
                          nullptr, DM_OUT_BUFFER) != IDOK) {
    return {};
  }
  return devMode;
}

std::vector<BYTE> WithOrientation(std::vector<BYTE> devMode, short orientation) {
  auto* fields = reinterpret_cast<DEVMODEW*>(devMode.data());
  fields->dmFields |= DM_ORIENTATION;
  fields->dmOrientation = orientation;
  return devMode;
}

// Prints the pages on the printer as the add-in plays them, into `output`.
void PrintDirectly(const std::wstring& printer, const std::vector<BYTE>& devMode,
                   const std::vector<Bytes>& pages, const std::wstring& output) {
  DeleteFileW(output.c_str());
  UniqueDC dc(CreateDCW(L"WINSPOOL", printer.c_str(), nullptr,
                        reinterpret_cast<const DEVMODEW*>(devMode.data())));
  ASSERT_TRUE(dc);
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Quillon render";
  document.lpszOutput = output.c_str();
  ASSERT_GT(StartDocW(dc.get(), &document), 0);
  for (const Bytes& bits : pages) {
    UniqueEnhMetaFile page(SetEnhMetaFileBits(static_cast<UINT>(bits.size()), bits.data()));
    ASSERT_TRUE(page);
    StartPage(dc.get());
    const RECT area{0, 0, GetDeviceCaps(dc.get(), HORZRES), GetDeviceCaps(dc.get(), VERTRES)};
    PlayEnhMetaFile(dc.get(), page.get(), &area);
    EndPage(dc.get());
  }
  EndDoc(dc.get());
}

class RenderTest : public AddinTest {
 protected:
  // The job carries the public part of the given device settings, as the server sends them.
  void PrintThroughAddin(const std::wstring& printer, const std::vector<BYTE>& jobDevMode,
                         const std::vector<Bytes>& pages) {
    ASSERT_GE(jobDevMode.size(), JobStartLayout::kDevModeSize);
    LoadAndConnect();
    const std::u16string name(printer.begin(), printer.end());
    const auto start = BuildJobStart(
        std::span<const uint8_t, JobStartLayout::kDevModeSize>(jobDevMode.data(),
                                                               JobStartLayout::kDevModeSize),
        name, u"Quillon render");
    EXPECT_EQ(Ask("QSpl", start), BuildJobStartAck(kCapPageSettings | kCapCompressedPages | kCapPageWindow | kCapFonts));
    for (const Bytes& page : pages) EXPECT_EQ(Ask("QSpl", BuildPage(page)), BuildPageAck());
    EXPECT_EQ(Ask("QSpl", BuildJobEnd()), BuildJobEndAck());
  }
};

TEST_F(RenderTest, PortraitPagesThroughTheAddinAndDirectly) {
  InstallPostScriptDriver();
  const std::wstring throughAddin = AddFilePrinter(kPortrait, L"render-portrait-addin.ps");
  const auto pages = RenderPages();
  const auto devMode = PrinterDevMode(kPortrait);
  ASSERT_GE(devMode.size(), sizeof(DEVMODEW));
  PrintDirectly(kPortrait, devMode, pages, TestFolder() + L"out\\render-portrait-direct.ps");
  PrintThroughAddin(kPortrait, devMode, pages);
  EXPECT_EQ(CountPostScriptPages(ReadFileText(throughAddin)), 4);
}

TEST_F(RenderTest, LandscapeJobThroughTheAddinAndDirectly) {
  InstallPostScriptDriver();
  const std::wstring throughAddin = AddFilePrinter(kLandscape, L"render-landscape-addin.ps");
  const auto pages = RenderPages();
  // The printer prints portrait; the job, as the server sends it, asks for landscape.
  const auto own = PrinterDevMode(kLandscape);
  ASSERT_GE(own.size(), sizeof(DEVMODEW));
  ASSERT_EQ(reinterpret_cast<const DEVMODEW*>(own.data())->dmOrientation, DMORIENT_PORTRAIT);
  const auto devMode = WithOrientation(own, DMORIENT_LANDSCAPE);
  PrintDirectly(kLandscape, devMode, pages, TestFolder() + L"out\\render-landscape-direct.ps");
  PrintThroughAddin(kLandscape, devMode, pages);
  EXPECT_EQ(CountPostScriptPages(ReadFileText(throughAddin)), 4);
}

}  // namespace
}  // namespace quil::test
