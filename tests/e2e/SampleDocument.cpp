// quil_e2e_document: the sample document of the end-to-end run as an application's printing
// leaves it in the spooler of the terminal server: the job's EMF spool data.
// Usage: quil_e2e_document <folder> [page...]   (page numbers 1-6 in the order wanted; all six
// without any)
// The pages are recorded as enhanced metafiles against the device context of "Document Printer",
// a printer of Wine's PostScript driver that the program adds to this computer (the driver and
// page size of the client computers' printers), switched to landscape with ResetDCW for a
// landscape page and back after it. The spool data is laid out as Windows writes it: a header
// with the document's and the printer's names; per page its metafile (EMRI_METAFILE_DATA), then
// an offset record back to it (EMRI_METAFILE_EXT, or EMRI_BW_METAFILE_EXT for a black-and-white
// page); where the next page's device settings differ, the whole DEVMODEW it is printed with
// (EMRI_DEVMODE) between a page's metafile and its offset record. Writes document.spl into the
// folder.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "PrintingDevice.h"
#include "SamplePages.h"
#include "SimPrinters.h"
#include "SpoolDataFixtures.h"

namespace quil::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr wchar_t kPrinter[] = L"Document Printer";
constexpr wchar_t kDocumentName[] = L"Sample document";

// The page drawn into an enhanced metafile whose reference device is the printer as it is set
// now; the frame is the whole printable area in 0.01 mm as the device measures it (HORZSIZE,
// VERTSIZE), so that the frame stands for exactly the device's pixels.
Bytes RecordPage(HDC printer, const SamplePage& page) {
  const RECT frame{0, 0, GetDeviceCaps(printer, HORZSIZE) * 100, GetDeviceCaps(printer, VERTSIZE) * 100};
  const HDC recording = CreateEnhMetaFileW(printer, nullptr, &frame, L"Quillon\0Sample document\0");
  if (!recording) return {};
  DrawSamplePage(recording, page);
  const UniqueEnhMetaFile metafile(CloseEnhMetaFile(recording));
  const UINT size = GetEnhMetaFileBits(metafile.get(), 0, nullptr);
  Bytes bytes(size);
  if (size == 0 || GetEnhMetaFileBits(metafile.get(), size, bytes.data()) != size) return {};
  return bytes;
}

// Record sizes are multiples of 4.
Bytes Padded(Bytes bytes) {
  bytes.resize((bytes.size() + 3) & ~size_t{3});
  return bytes;
}

const char* OrientationName(short orientation) {
  return orientation == DMORIENT_LANDSCAPE ? "landscape" : "portrait";
}

// Lays the job's records out in the order Windows writes them and prints one line per page with
// its records.
class JobWriter {
 public:
  explicit JobWriter(test::SpoolFile& spool) : spool_(spool) {}

  // Settings for the pages that follow: after the data of the page before, ahead of its offset
  // record.
  void DeviceSettings(const Bytes& devMode, short orientation) {
    spool_.Record(test::kDevModeRecord, Padded(devMode));
    Describe(std::string("EMRI_DEVMODE ") + OrientationName(orientation), devMode.size());
  }

  void Page(const SamplePage& page, const Bytes& metafile) {
    ClosePage();
    open_ = OpenPage{page.number, page.blackAndWhite ? test::kBlackAndWhiteOffsetsRecord : test::kMetafileOffsetsRecord,
                     spool_.Size()};
    spool_.Page(metafile);
    Describe(std::string("EMRI_METAFILE_DATA ") + OrientationName(page.orientation), metafile.size());
  }

  // Writes the last page's offset record.
  void ClosePage() {
    if (!open_) return;
    spool_.PageOffset(open_->offsetType, open_->pageAt);
    const bool blackAndWhite = open_->offsetType == test::kBlackAndWhiteOffsetsRecord;
    std::printf("page %d: %s%s\n", open_->number, records_.c_str(),
                blackAndWhite ? "EMRI_BW_METAFILE_EXT" : "EMRI_METAFILE_EXT");
    records_.clear();
    open_.reset();
  }

 private:
  struct OpenPage {
    int number;
    uint32_t offsetType;
    size_t pageAt;
  };

  void Describe(const std::string& record, size_t size) {
    records_ += record + " (" + std::to_string(size) + " bytes), ";
  }

  test::SpoolFile& spool_;
  std::optional<OpenPage> open_;
  std::string records_;  // since the last page's offset record
};

// Records each page against the device in the page's orientation, resetting the device where the
// orientation changes.
bool SpoolPages(PrintingDevice& device, const std::vector<SamplePage>& pages, JobWriter& job) {
  for (const SamplePage& page : pages) {
    if (page.orientation != device.orientation()) {
      if (!device.Orient(page.orientation)) return false;
      job.DeviceSettings(device.settings(), page.orientation);
    }
    const Bytes metafile = RecordPage(device.dc(), page);
    if (metafile.empty()) return false;
    job.Page(page, metafile);
  }
  job.ClosePage();
  return true;
}

bool WriteFile(const std::wstring& path, const Bytes& bytes) {
  std::ofstream file(path.c_str(), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

int Main(int argc, wchar_t** argv) {
  const auto pages = argc < 2 ? std::nullopt : SelectSamplePages({argv + 2, argv + argc});
  if (!pages) {
    std::fwprintf(stderr, L"usage: quil_e2e_document <folder> [page...]   (pages 1-6)\n");
    return 2;
  }
  const std::wstring folder = std::wstring(argv[1]) + L"\\";
  sim::InstallPostScriptDriver();
  if (!sim::AddFilePrinter(kPrinter, folder + L"document-printer.ps")) return 1;
  PrintingDevice device(kPrinter);
  if (!device) return 1;
  test::SpoolFile spool = test::SpoolFile::WithNames(kDocumentName, kPrinter);
  std::printf("header: %s bytes with the document's and the printer's names\n", std::to_string(spool.Size()).c_str());
  JobWriter job(spool);
  if (!SpoolPages(device, *pages, job)) return 1;
  return WriteFile(folder + L"document.spl", spool.Bytes()) ? 0 : 1;
}

}  // namespace
}  // namespace quil::e2e

int wmain(int argc, wchar_t** argv) { return quil::e2e::Main(argc, argv); }
