// The office document of the link figures: 20 pages recorded as enhanced metafiles against a
// printer's device context, as an application prints them (text pages with headings, runs of
// text in two fonts and a table; page 3 a picture, page 12 a chart), and its spool data laid out
// as Windows writes it: a header with the document's and the printer's names, then per page its
// metafile and the offset record back to it. It is recorded by a program of its own
// (quil_bench_document), since the link benchmark's own spooler calls are the simulated server's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quil::bench {

inline constexpr int kOfficePageCount = 20;
// The client computer's printer that the document is recorded against and printed on: Wine's
// PostScript driver, its port a file of this name beside the programs.
inline constexpr wchar_t kOfficePrinter[] = L"Quillon Bench Link";
inline constexpr wchar_t kOfficePrinterPort[] = L"bench-link.ps";
inline constexpr wchar_t kOfficeDocumentName[] = L"Quarterly report";

struct OfficeDocument {
  std::vector<std::vector<uint8_t>> pages;  // each page's metafile
  std::vector<uint8_t> spool;
};

// Records the document against the printer's device context with the printer's own settings;
// nullopt if the settings, the device context or a recording failed.
std::optional<OfficeDocument> RecordOfficeDocument(const std::wstring& printer, const std::wstring& documentName);

}  // namespace quil::bench
