#include "OfficeDocument.h"

#include <windows.h>

#include <algorithm>
#include <array>

#include "PrintingDevice.h"
#include "SamplePages.h"
#include "SpoolDataFixtures.h"
#include "UniqueGdi.h"

namespace quil::bench {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kPicturePage = 3;  // the sample document's picture page, which is its page 3 too
constexpr int kChartPage = 12;
constexpr wchar_t kBodyFont[] = L"Times New Roman";
constexpr wchar_t kSansFont[] = L"Arial";

// Selects a GDI object for the scope, then puts the earlier one back.
class ScopedSelection {
 public:
  ScopedSelection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~ScopedSelection() { SelectObject(dc_, old_); }
  ScopedSelection(const ScopedSelection&) = delete;
  ScopedSelection& operator=(const ScopedSelection&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// Draws a run of text at (x, y) with each glyph's advance given, as a word processor lays text
// out; returns the x after it.
int Run(HDC dc, int x, int y, int height, const wchar_t* face, int weight, const std::wstring& text,
        COLORREF color = RGB(0, 0, 0)) {
  const UniqueGdiObject font(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                                         ANTIALIASED_QUALITY, 0, face));
  const ScopedSelection selected(dc, font.get());
  SetTextColor(dc, color);
  std::vector<INT> advances(text.size());
  SIZE size{};
  if (!GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr, advances.data(), &size)) {
    return x;
  }
  for (size_t i = advances.size(); i-- > 1;) advances[i] -= advances[i - 1];
  ExtTextOutW(dc, x, y, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), advances.data());
  return x + size.cx;
}

void Fill(HDC dc, const RECT& area, COLORREF color) {
  const UniqueGdiObject brush(CreateSolidBrush(color));
  FillRect(dc, &area, static_cast<HBRUSH>(brush.get()));
}

void Line(HDC dc, int fromX, int fromY, int toX, int toY) {
  MoveToEx(dc, fromX, fromY, nullptr);
  LineTo(dc, toX, toY);
}

// Prose of varying words, the same for the same seed.
class Prose {
 public:
  explicit Prose(unsigned seed) : state_(seed * 2654435761u + 1) {}

  std::wstring Words(size_t count) {
    static constexpr std::array<const wchar_t*, 40> kWords = {
        L"the",      L"quarter",  L"revenue",   L"of",        L"branch",    L"offices",  L"grew",
        L"while",    L"costs",    L"remained",  L"stable",    L"and",       L"customers", L"asked",
        L"for",      L"printing", L"from",      L"remote",    L"sessions",  L"on",        L"their",
        L"own",      L"devices",  L"so",        L"that",      L"reports",   L"arrive",    L"faster",
        L"with",     L"fewer",    L"errors",    L"across",    L"regions",   L"budget",    L"plans",
        L"include",  L"new",      L"servers",   L"training",  L"support"};
    std::wstring text;
    for (size_t i = 0; i < count; ++i) {
      if (i) text += L' ';
      text += kWords[Next() % kWords.size()];
    }
    return text;
  }
  unsigned Next() {
    state_ = state_ * 1103515245u + 12345u;
    return state_ >> 16;
  }

 private:
  unsigned state_;
};

// A paragraph line: body text with a run in the other font (a term, a figure) now and then.
void ParagraphLine(HDC dc, int y, Prose& prose) {
  int x = 150;
  x = Run(dc, x, y, 42, kBodyFont, FW_NORMAL, prose.Words(5 + prose.Next() % 4) + L" ");
  if (prose.Next() % 3 == 0) {
    x = Run(dc, x, y, 40, kSansFont, FW_BOLD, prose.Words(2) + L" ", RGB(20, 50, 120));
  }
  Run(dc, x, y, 42, kBodyFont, FW_NORMAL, prose.Words(3 + prose.Next() % 3));
}

// A table of figures: a header row in bold, grid lines, numbers right-aligned in their cells.
int Table(HDC dc, int top, Prose& prose) {
  constexpr int kColumns = 5, kRows = 8, kWidth = 360, kHeight = 70, kLeft = 150;
  Fill(dc, {kLeft, top, kLeft + kColumns * kWidth, top + kHeight}, RGB(220, 225, 235));
  const wchar_t* heads[kColumns] = {L"Region", L"Q1", L"Q2", L"Q3", L"Q4"};
  for (int column = 0; column < kColumns; ++column) {
    Run(dc, kLeft + column * kWidth + 20, top + 15, 38, kSansFont, FW_BOLD, heads[column]);
  }
  for (int row = 1; row < kRows; ++row) {
    const int y = top + row * kHeight + 15;
    Run(dc, kLeft + 20, y, 38, kBodyFont, FW_NORMAL, prose.Words(1));
    for (int column = 1; column < kColumns; ++column) {
      const std::wstring figure = std::to_wstring(1000 + prose.Next() % 90000);
      Run(dc, kLeft + column * kWidth + kWidth - 40 - static_cast<int>(figure.size()) * 21, y, 38, kSansFont,
          FW_NORMAL, figure);
    }
  }
  for (int row = 0; row <= kRows; ++row) {
    Line(dc, kLeft, top + row * kHeight, kLeft + kColumns * kWidth, top + row * kHeight);
  }
  for (int column = 0; column <= kColumns; ++column) {
    Line(dc, kLeft + column * kWidth, top, kLeft + column * kWidth, top + kRows * kHeight);
  }
  return top + kRows * kHeight;
}

void Footer(HDC dc, int number) {
  Line(dc, 150, 2600, 2000, 2600);
  Run(dc, 150, 2630, 35, kSansFont, FW_NORMAL, L"Quarterly report");
  Run(dc, 1800, 2630, 35, kSansFont, FW_NORMAL, L"Page " + std::to_wstring(number));
}

// A text page: a heading, paragraphs under subheadings, and on every third page a table.
void TextPage(HDC dc, int number) {
  Prose prose(static_cast<unsigned>(number));
  Run(dc, 150, 150, 80, kSansFont, FW_BOLD, std::to_wstring(number) + L". " + prose.Words(3), RGB(30, 60, 140));
  int y = 320;
  const int tableAfter = number % 3 == 0 ? 2 : -1;
  for (int section = 0; y < 2450; ++section) {
    Run(dc, 150, y, 52, kSansFont, FW_BOLD, prose.Words(4));
    y += 90;
    for (int line = 0; line < 7 && y < 2500; ++line, y += 62) ParagraphLine(dc, y, prose);
    y += 50;
    if (section == tableAfter && y < 1800) y = Table(dc, y, prose) + 80;
  }
  Footer(dc, number);
}

// A chart page: bars of four series by month with axes, grid lines, labels and a legend.
void ChartPage(HDC dc, int number) {
  Prose prose(static_cast<unsigned>(number));
  Run(dc, 150, 150, 80, kSansFont, FW_BOLD, std::to_wstring(number) + L". Sales by month", RGB(30, 60, 140));
  constexpr int kLeft = 250, kBottom = 1700, kTop = 400, kRight = 1950;
  const COLORREF colors[] = {RGB(40, 90, 200), RGB(220, 120, 30), RGB(60, 160, 80), RGB(180, 50, 60)};
  const UniqueGdiObject gridPen(CreatePen(PS_DOT, 1, RGB(160, 160, 160)));
  {
    const ScopedSelection selected(dc, gridPen.get());
    for (int y = kBottom; y >= kTop; y -= 130) Line(dc, kLeft, y, kRight, y);
  }
  for (int y = kBottom, value = 0; y >= kTop; y -= 130, value += 10) {
    Run(dc, 150, y - 20, 32, kSansFont, FW_NORMAL, std::to_wstring(value));
  }
  for (int month = 0; month < 12; ++month) {
    const int x = kLeft + 20 + month * 140;
    for (int series = 0; series < 4; ++series) {
      const int height = 100 + static_cast<int>(prose.Next() % 1100);
      Fill(dc, {x + series * 28, kBottom - height, x + series * 28 + 26, kBottom}, colors[series]);
    }
    Run(dc, x, kBottom + 20, 32, kSansFont, FW_NORMAL, std::to_wstring(month + 1));
  }
  Line(dc, kLeft, kBottom, kRight, kBottom);
  Line(dc, kLeft, kBottom, kLeft, kTop);
  for (int series = 0; series < 4; ++series) {
    Fill(dc, {kLeft + series * 420, 1850, kLeft + series * 420 + 50, 1900}, colors[series]);
    Run(dc, kLeft + series * 420 + 70, 1855, 36, kBodyFont, FW_NORMAL, L"Region " + std::to_wstring(series + 1));
  }
  int y = 2000;
  for (int line = 0; line < 6; ++line, y += 62) ParagraphLine(dc, y, prose);
  Footer(dc, number);
}

// Draws page `number` in units of 0.1 mm from the printable area's top left corner.
void DrawPage(HDC dc, int number) {
  if (number == kPicturePage) {
    e2e::DrawSamplePage(dc, e2e::SelectSamplePages({std::to_wstring(kPicturePage)})->front());
    return;
  }
  const int saved = SaveDC(dc);
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowExtEx(dc, 254, 254, nullptr);
  SetViewportExtEx(dc, GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY), nullptr);
  SetBkMode(dc, TRANSPARENT);
  if (number == kChartPage) {
    ChartPage(dc, number);
  } else {
    TextPage(dc, number);
  }
  RestoreDC(dc, saved);
}

// The page recorded into an enhanced metafile whose reference device is the printer, its frame
// the printable area in 0.01 mm.
Bytes RecordPage(HDC printer, int number) {
  const RECT frame{0, 0, GetDeviceCaps(printer, HORZSIZE) * 100, GetDeviceCaps(printer, VERTSIZE) * 100};
  const HDC recording = CreateEnhMetaFileW(printer, nullptr, &frame, L"Quillon\0Quarterly report\0");
  if (!recording) return {};
  DrawPage(recording, number);
  const UniqueEnhMetaFile metafile(CloseEnhMetaFile(recording));
  const UINT size = GetEnhMetaFileBits(metafile.get(), 0, nullptr);
  Bytes bytes(size);
  if (size == 0 || GetEnhMetaFileBits(metafile.get(), size, bytes.data()) != size) return {};
  return bytes;
}

}  // namespace

std::optional<OfficeDocument> RecordOfficeDocument(const std::wstring& printer, const std::wstring& documentName) {
  e2e::PrintingDevice device(printer);
  if (!device) return std::nullopt;
  OfficeDocument document;
  test::SpoolFile spool = test::SpoolFile::WithNames(documentName, printer);
  for (int number = 1; number <= kOfficePageCount; ++number) {
    Bytes page = RecordPage(device.dc(), number);
    if (page.empty()) return std::nullopt;
    const size_t pageAt = spool.Size();
    spool.Page(page);
    spool.PageOffset(test::kMetafileOffsetsRecord, pageAt);
    document.pages.push_back(std::move(page));
  }
  document.spool = spool.Bytes();
  return document;
}

}  // namespace quil::bench
