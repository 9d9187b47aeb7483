// quil_bench_document: records the link benchmark's office document (OfficeDocument.h) on this
// computer's printer for it, which it (re)creates, and writes the document's spool data.
//   quil_bench_document <spool file>
// Exit status: 0 when the file was written, 1 when recording or writing failed, 2 for a bad
// command line.
#include <windows.h>

#include <cstdio>
#include <string>

#include "BenchSupport.h"
#include "OfficeDocument.h"
#include "SimPrinters.h"

namespace quil::bench {
namespace {

int Main(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: quil_bench_document <spool file>\n");
    return 2;
  }
  sim::InstallPostScriptDriver();
  if (!sim::AddFilePrinter(kOfficePrinter, ExecutableFolder() + kOfficePrinterPort)) {
    std::printf("document: cannot create the printer\n");
    return 1;
  }
  const auto document = RecordOfficeDocument(kOfficePrinter, kOfficeDocumentName);
  if (!document || !WriteWholeFile(argv[1], document->spool)) {
    std::printf("document: cannot record or write the document\n");
    return 1;
  }
  size_t total = 0;
  for (const auto& page : document->pages) total += page.size();
  std::printf("document: %zu pages recorded, %zu bytes of metafiles, %zu bytes of spool data\n",
              document->pages.size(), total, document->spool.size());
  return 0;
}

}  // namespace
}  // namespace quil::bench

int wmain(int argc, wchar_t** argv) { return quil::bench::Main(argc, argv); }
