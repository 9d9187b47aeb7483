// quil_e2e_direct: prints the sample document on a printer of this computer as the application
// prints it there without Quillon, the reference for what the add-in printed: the document's own
// drawing calls straight onto the printer's device context, made with the printer's own
// settings. StartDocW into a file; per page ResetDCW where its orientation differs from the page
// before, StartPage, the page's drawing, EndPage; EndDoc.
//   quil_e2e_direct.exe <printer> <outputFile> [--font <fontFile>] [page...]   (sample document
//   pages 1-6; all six without any)
// --font: a font file that this computer has for the print, loaded for this process alone: the
// reference of a computer that has the font.
// Prints "printed <n> pages on <printer> -> <outputFile>". Exit status 0, 1 on failure, 2 for a
// bad command line.
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "E2eConsole.h"
#include "PrintingDevice.h"
#include "SamplePages.h"
#include "SimPrinters.h"

namespace sim {
namespace {

using quil::e2e::SamplePage;

constexpr char kUsage[] = "usage: quil_e2e_direct <printer> <outputFile> [--font <fontFile>] [page...]   (pages 1-6)";

bool PrintPage(quil::e2e::PrintingDevice& device, const SamplePage& page) {
  if (!device.Orient(page.orientation) || StartPage(device.dc()) <= 0) return false;
  quil::e2e::DrawSamplePage(device.dc(), page);
  return EndPage(device.dc()) > 0;
}

// False if the document could not be printed whole.
bool PrintDocument(const std::wstring& printer, const std::wstring& output, const std::vector<SamplePage>& pages) {
  quil::e2e::PrintingDevice device(printer);
  if (!device) return false;
  DeleteFileW(output.c_str());
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Sample document";
  document.lpszOutput = output.c_str();
  if (StartDocW(device.dc(), &document) <= 0) return false;
  for (const SamplePage& page : pages) {
    if (!PrintPage(device, page)) {
      AbortDoc(device.dc());
      return false;
    }
  }
  return EndDoc(device.dc()) > 0;
}

int Main(int argc, wchar_t** argv) {
  E2eConsole console;
  const bool withFont = argc >= 5 && std::wstring(argv[3]) == L"--font";
  const int firstPage = withFont ? 5 : 3;
  const auto pages = argc < 3 ? std::nullopt : quil::e2e::SelectSamplePages({argv + firstPage, argv + argc});
  if (!pages) {
    console.ErrorLine(kUsage);
    return 2;
  }
  if (withFont && AddFontResourceExW(argv[4], FR_PRIVATE, nullptr) == 0) {
    console.ErrorLine("cannot load the font " + Utf8(argv[4]));
    return 1;
  }
  const std::wstring printer = argv[1], output = argv[2];
  if (!PrintDocument(printer, output, *pages)) {
    console.ErrorLine("cannot print on " + Utf8(printer));
    return 1;
  }
  const int printed = CountPostScriptPages(ReadFileText(output));
  console.Line("printed " + std::to_string(printed) + " pages on " + Utf8(printer) + " -> " + Utf8(output));
  return 0;
}

}  // namespace
}  // namespace sim

int wmain(int argc, wchar_t** argv) { return sim::Main(argc, argv); }
