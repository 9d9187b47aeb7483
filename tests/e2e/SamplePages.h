// The sample document's pages: each page's drawing calls, made on any device context (a
// printer's, or an enhanced metafile's recorded against a printer), so that the document spooled
// on the terminal server and the same document printed directly on a client's printer come from
// the very same calls. Pages are laid out in units of 0.1 mm from the top left corner of the
// printable area and fit on both A4 and Letter.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace quil::e2e {

struct SamplePage {
  int number;          // 1 to kSamplePageCount
  short orientation;   // DMORIENT_PORTRAIT or DMORIENT_LANDSCAPE
  bool blackAndWhite;  // no colour on the page
  void (*draw)(HDC dc);
};

inline constexpr int kSamplePageCount = 6;

// The faces of the fonts page (page 6), which only the terminal server has: a font whose embedding
// permission lets it travel with a job, and one whose restricted embedding keeps it on the server.
inline constexpr wchar_t kTravellingFace[] = L"Breip";
inline constexpr wchar_t kRestrictedFace[] = L"Quillon Restricted";

// Draws the page on the device context, leaving the context's state as it found it.
void DrawSamplePage(HDC dc, const SamplePage& page);

// The pages named by page numbers written in decimal (1 to kSamplePageCount, in the order given);
// all pages for an empty list; nullopt if an argument names no page.
std::optional<std::vector<SamplePage>> SelectSamplePages(const std::vector<std::wstring>& numbers);

}  // namespace quil::e2e
