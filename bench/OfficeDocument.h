// The office document of the link figures: 20 pages recorded as enhanced metafiles against a
// printer's device context, as an application prints them (text pages with headings, runs of
// text in two fonts and a table; page 3 a picture, page 12 a chart), and its spool data laid out
// as Windows writes it: a header with the document's and the printer's names, then per page its
// metafile and the offset record back to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quil::bench {

inline constexpr int kOfficePageCount = 20;

struct OfficeDocument {
  std::vector<std::vector<uint8_t>> pages;  // each page's metafile
  std::vector<uint8_t> spool;
  std::vector<uint8_t> devMode;  // the printer's own settings, as the application printed with them
};

// Records the document against the printer's device context; nullopt if the printer's settings,
// its device context or a recording failed.
std::optional<OfficeDocument> RecordOfficeDocument(const std::wstring& printer, const std::wstring& documentName);

// The pages of spool data in the EMF spool format; nullopt if it is not such data.
std::optional<std::vector<std::vector<uint8_t>>> SpooledPages(const std::vector<uint8_t>& spool);

}  // namespace quil::bench
