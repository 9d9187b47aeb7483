// quil_e2e_direct: prints enhanced-metafile pages directly on a printer of this computer, the way
// the client add-in plays a job's pages (its own page playback: each page stretched over the
// printable area), into a file, for the comparison with what the add-in printed.
//   quil_e2e_direct.exe <printer> <outputFile> <emf>... [--settings <file>]
// The printer prints with its own device settings; --settings merges a job's 220 bytes of device
// settings into them first, as the add-in does (quil_e2e_client keeps them per job).
// Prints "printed <n> pages on <printer> -> <outputFile>". Exit status 0, 1 on failure, 2 for a
// bad command line.
#include <windows.h>

#include <winspool.h>

#include <optional>
#include <vector>

#include "E2eConsole.h"
#include "JobSettings.h"
#include "PrintJob.h"
#include "SimPrinters.h"
#include "UniqueGdi.h"
#include "UniquePrinter.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr char kUsage[] =
    "usage: quil_e2e_direct <printer> <outputFile> <emf>... [--settings <file>]";

struct DirectOptions {
  std::wstring printer;
  std::wstring output;
  std::vector<std::wstring> pages;
  std::wstring settings;  // empty: the printer's own settings alone
};

std::optional<DirectOptions> ParseDirectOptions(int argc, wchar_t** argv) {
  DirectOptions options;
  std::vector<std::wstring> positional;
  for (int at = 1; at < argc; ++at) {
    const std::wstring argument = argv[at];
    if (argument != L"--settings") {
      positional.push_back(argument);
    } else if (++at < argc) {
      options.settings = argv[at];
    } else {
      return std::nullopt;
    }
  }
  if (positional.size() < 3) return std::nullopt;
  options.printer = positional[0];
  options.output = positional[1];
  options.pages.assign(positional.begin() + 2, positional.end());
  return options;
}

std::optional<Bytes> ReadMetafile(const std::wstring& path) {
  const std::string text = ReadFileText(path);
  Bytes bits(text.begin(), text.end());
  const quil::UniqueEnhMetaFile page(
      SetEnhMetaFileBits(static_cast<UINT>(bits.size()), bits.data()));
  if (!page) return std::nullopt;
  return bits;
}

std::optional<std::vector<Bytes>> ReadMetafiles(const std::vector<std::wstring>& paths,
                                                E2eConsole& console) {
  std::vector<Bytes> pages;
  for (const auto& path : paths) {
    auto page = ReadMetafile(path);
    if (!page) {
      console.ErrorLine("not an enhanced metafile: " + Utf8(path));
      return std::nullopt;
    }
    pages.push_back(std::move(*page));
  }
  return pages;
}

// The printer's own device settings, as GetPrinterW level 2 gives them to the add-in; empty if it
// has none (it then prints with its driver's defaults), nullopt if the printer cannot be read.
std::optional<Bytes> PrinterSettings(const std::wstring& printer) {
  quil::UniquePrinter handle;
  if (!OpenPrinterW(const_cast<LPWSTR>(printer.c_str()), handle.put(), nullptr)) {
    return std::nullopt;
  }
  DWORD needed = 0;
  GetPrinterW(handle.get(), 2, nullptr, 0, &needed);
  Bytes info(needed);
  if (needed < sizeof(PRINTER_INFO_2W) ||
      !GetPrinterW(handle.get(), 2, info.data(), needed, &needed)) {
    return std::nullopt;
  }
  const DEVMODEW* own = reinterpret_cast<const PRINTER_INFO_2W*>(info.data())->pDevMode;
  if (!own) return Bytes();
  const auto* bytes = reinterpret_cast<const uint8_t*>(own);
  return Bytes(bytes, bytes + own->dmSize + own->dmDriverExtra);
}

// Merges a job's settings, kept in a file, into the printer's public part as the add-in does.
bool MergeSettingsFile(Bytes& devMode, const std::wstring& path) {
  const std::string job = ReadFileText(path);
  if (devMode.empty() || job.size() < quil::JobStartLayout::kDevModeSize) return false;
  const auto* jobBytes = reinterpret_cast<const uint8_t*>(job.data());
  const WORD publicSize = reinterpret_cast<const DEVMODEW*>(devMode.data())->dmSize;
  return quil::MergeJobSettings(std::span<const uint8_t, quil::JobStartLayout::kDevModeSize>(
                                    jobBytes, quil::JobStartLayout::kDevModeSize),
                                {devMode.data(), publicSize});
}

// Plays the pages into a document whose output is the file; false if no document could start.
bool PrintPages(const DirectOptions& options, const Bytes& devMode,
                const std::vector<Bytes>& pages) {
  const auto* settings =
      devMode.empty() ? nullptr : reinterpret_cast<const DEVMODEW*>(devMode.data());
  const quil::UniqueDC dc(CreateDCW(L"WINSPOOL", options.printer.c_str(), nullptr, settings));
  if (!dc) return false;
  DeleteFileW(options.output.c_str());
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Quillon direct";
  document.lpszOutput = options.output.c_str();
  if (StartDocW(dc.get(), &document) <= 0) return false;
  for (const Bytes& page : pages) quil::PlayPage(dc.get(), page);
  return EndDoc(dc.get()) > 0;
}

int Main(int argc, wchar_t** argv) {
  E2eConsole console;
  const auto options = ParseDirectOptions(argc, argv);
  if (!options) {
    console.ErrorLine(kUsage);
    return 2;
  }
  const auto pages = ReadMetafiles(options->pages, console);
  if (!pages) return 1;
  auto devMode = PrinterSettings(options->printer);
  if (!devMode) {
    console.ErrorLine("cannot read the printer " + Utf8(options->printer));
    return 1;
  }
  if (!options->settings.empty() && !MergeSettingsFile(*devMode, options->settings)) {
    console.ErrorLine("cannot merge the job settings " + Utf8(options->settings));
    return 1;
  }
  if (!PrintPages(*options, *devMode, *pages)) {
    console.ErrorLine("cannot print on " + Utf8(options->printer));
    return 1;
  }
  const int printed = CountPostScriptPages(ReadFileText(options->output));
  console.Line("printed " + std::to_string(printed) + " pages on " + Utf8(options->printer) +
               " -> " + Utf8(options->output));
  return 0;
}

}  // namespace
}  // namespace sim

int wmain(int argc, wchar_t** argv) { return sim::Main(argc, argv); }
