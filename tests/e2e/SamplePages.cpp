#include "SamplePages.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "UniqueGdi.h"

namespace quil::e2e {
namespace {

// Selects a GDI object into a device context for the scope, then puts the earlier one back, so
// that the object is no longer selected when its owner deletes it.
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

// Each glyph's advance as the device context measures the text, in logical units.
std::vector<INT> GlyphAdvances(HDC dc, const std::wstring& text) {
  std::vector<INT> advances(text.size());
  SIZE size{};
  if (!GetTextExtentExPointW(dc, text.c_str(), static_cast<int>(text.size()), 0, nullptr, advances.data(), &size)) {
    return {};
  }
  for (size_t i = advances.size(); i-- > 1;) advances[i] -= advances[i - 1];
  return advances;
}

// A line laid out as a word processor lays it out: with the advance of each glyph given, so that
// the glyphs stand where the layout put them on every device. (A metafile records text with
// such advances in any case, rounded to logical units; without them the printer would place
// glyphs drawn directly by its own font widths, and each line would drift from the recorded one
// by up to a few device pixels.)
void Text(HDC dc, int x, int y, int height, const std::wstring& text, COLORREF color = RGB(0, 0, 0),
          int weight = FW_NORMAL, const wchar_t* face = L"Tahoma") {
  const UniqueGdiObject font(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                                         ANTIALIASED_QUALITY, 0, face));
  const ScopedSelection selected(dc, font.get());
  SetTextColor(dc, color);
  const std::vector<INT> advances = GlyphAdvances(dc, text);
  ExtTextOutW(dc, x, y, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()),
              advances.empty() ? nullptr : advances.data());
}

// A line whose glyphs all take the same advance, whatever font the device maps the face to: where
// one computer has the face and another prints a substitute, the glyphs still stand in the same
// places.
void EvenText(HDC dc, int x, int y, int height, const std::wstring& text, const wchar_t* face) {
  const UniqueGdiObject font(CreateFontW(-height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0,
                                         ANTIALIASED_QUALITY, 0, face));
  const ScopedSelection selected(dc, font.get());
  SetTextColor(dc, RGB(0, 0, 0));
  const std::vector<INT> advances(text.size(), height * 3 / 5);
  ExtTextOutW(dc, x, y, 0, nullptr, text.c_str(), static_cast<UINT>(text.size()), advances.data());
}

void Fill(HDC dc, const RECT& area, COLORREF color) {
  const UniqueGdiObject brush(CreateSolidBrush(color));
  FillRect(dc, &area, static_cast<HBRUSH>(brush.get()));
}

void Line(HDC dc, int fromX, int fromY, int toX, int toY) {
  MoveToEx(dc, fromX, fromY, nullptr);
  LineTo(dc, toX, toY);
}

void TitlePage(HDC dc) {
  Fill(dc, {100, 100, 2000, 400}, RGB(30, 60, 140));
  Text(dc, 150, 170, 120, L"Quillon sample document", RGB(255, 255, 255), FW_BOLD);
  Text(dc, 150, 600, 80, L"Printed on the terminal server,");
  Text(dc, 150, 720, 80, L"played on the client's own printer.");
  Text(dc, 150, 1000, 90, L"\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5",
       RGB(140, 20, 20));
  Text(dc, 150, 1150, 90, L"\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440", RGB(20, 110, 40));
  Text(dc, 150, 2650, 50, L"Page 1");
}

void Shape(HDC dc, int index, int x, int y) {
  const COLORREF colors[] = {RGB(220, 40, 40), RGB(40, 160, 60), RGB(40, 80, 220), RGB(240, 180, 20)};
  const UniqueGdiObject brush(CreateSolidBrush(colors[index]));
  const UniqueGdiObject pen(CreatePen(PS_SOLID, 8, RGB(0, 0, 0)));
  const ScopedSelection brushSelected(dc, brush.get());
  const ScopedSelection penSelected(dc, pen.get());
  if (index == 0) Rectangle(dc, x, y, x + 700, y + 600);
  if (index == 1) Ellipse(dc, x, y, x + 700, y + 600);
  if (index == 2) RoundRect(dc, x, y, x + 700, y + 600, 150, 150);
  if (index == 3) {
    const POINT star[] = {{x + 350, y},       {x + 440, y + 230}, {x + 700, y + 230}, {x + 490, y + 380},
                          {x + 570, y + 600}, {x + 350, y + 470}, {x + 130, y + 600}, {x + 210, y + 380},
                          {x, y + 230},       {x + 260, y + 230}};
    Polygon(dc, star, 10);
  }
}

void ShapesPage(HDC dc) {
  Text(dc, 150, 150, 90, L"Shapes", RGB(0, 0, 0), FW_BOLD);
  for (int i = 0; i < 4; ++i) Shape(dc, i, 200 + (i % 2) * 900, 400 + (i / 2) * 900);
  for (int i = 0; i < 12; ++i) Line(dc, 200, 2150 + i * 30, 1900, 2150 + i * 30 + (i % 3) * 60);
  Text(dc, 150, 2650, 50, L"Page 2");
}

// A landscape at dusk: a sky gradient, a sun, hills and a little noise, as a 24-bit bitmap
// (rows bottom-up, each pixel blue, green, red).
std::vector<uint8_t> DuskPixels(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
  unsigned noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const double top = 1.0 - static_cast<double>(y) / height;
      const double hill = 120 + 40 * std::sin(x / 50.0) + 20 * std::sin(x / 17.0);
      const double sun = std::hypot(x - 340.0, y - 250.0);
      double r = 250 * top + 60, g = 140 * top + 40, b = 90 + 120 * (1 - top);
      if (sun < 40) r = 255, g = 230, b = 120;
      if (y < hill) r = 40 + y / 4, g = 90 + y / 3, b = 40;
      noise = noise * 1103515245 + 12345;
      const int grain = static_cast<int>((noise >> 16) % 17) - 8;
      uint8_t* pixel = &pixels[(static_cast<size_t>(y) * width + x) * 3];
      pixel[0] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(b) + grain, 0, 255));
      pixel[1] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(g) + grain, 0, 255));
      pixel[2] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(r) + grain, 0, 255));
    }
  }
  return pixels;
}

void PicturePage(HDC dc) {
  Text(dc, 150, 150, 90, L"A picture", RGB(0, 0, 0), FW_BOLD);
  constexpr int kWidth = 480, kHeight = 360;
  const std::vector<uint8_t> pixels = DuskPixels(kWidth, kHeight);
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  StretchDIBits(dc, 150, 400, 1800, 1350, 0, 0, kWidth, kHeight, pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  Text(dc, 150, 1850, 60, L"Sky, sun and hills, drawn pixel by pixel.");
  Text(dc, 150, 2650, 50, L"Page 3");
}

void LandscapeChartPage(HDC dc) {
  Text(dc, 150, 120, 90, L"Landscape chart", RGB(0, 0, 0), FW_BOLD);
  const int values[] = {12, 19, 7, 23, 15, 28, 21, 9, 17, 25, 13, 30};
  for (int i = 0; i < 12; ++i) {
    const int x = 250 + i * 200, height = values[i] * 50;
    Fill(dc, {x, 1800 - height, x + 140, 1800}, RGB(40 + i * 15, 90, 200 - i * 10));
    Text(dc, x + 20, 1830, 45, std::to_wstring(i + 1));
  }
  Line(dc, 200, 1800, 2600, 1800);
  Text(dc, 150, 1950, 50, L"Page 4");
}

void TextPage(HDC dc) {
  Text(dc, 150, 150, 90, L"Running text", RGB(0, 0, 0), FW_BOLD);
  const wchar_t* lines[] = {L"Each page of a job travels as one enhanced metafile.",
                            L"The client acknowledges every message before the next one is sent.",
                            L"When the user logs off, her session printers are removed",
                            L"and the default printer she had before comes back.",
                            L"\u0391\u03b2\u03b3 \u0394\u03b5\u03b6 \u2014 \u0410\u0431\u0432 \u0413\u0434\u0435"};
  int y = 400;
  for (const wchar_t* line : lines) {
    Text(dc, 150, y, 55, line);
    y += 110;
  }
  Text(dc, 150, 2650, 50, L"Page 5");
}

// Set in the terminal server's own fonts: text in a face that travels with the job, and a line in a
// face whose embedding is restricted, which the client prints with a substitute.
void FontsPage(HDC dc) {
  Text(dc, 150, 150, 90, L"Fonts of the terminal server", RGB(0, 0, 0), FW_BOLD);
  const wchar_t* lines[] = {L"The Breip, a face that", L"the client computers lack,", L"travels with the job."};
  int y = 400;
  for (const wchar_t* line : lines) {
    Text(dc, 150, y, 130, line, RGB(30, 60, 140), FW_NORMAL, kTravellingFace);
    y += 170;
  }
  Text(dc, 150, 1050, 80, L"The quick brown fox jumps over the lazy dog.", RGB(0, 0, 0), FW_NORMAL, kTravellingFace);
  Text(dc, 150, 1200, 80, L"0123456789 (Breip)", RGB(140, 20, 20), FW_NORMAL, kTravellingFace);
  EvenText(dc, 150, 1500, 60, L"Restricted embedding: printed with a substitute", kRestrictedFace);
  Text(dc, 150, 2650, 50, L"Page 6");
}

constexpr SamplePage kPages[kSamplePageCount] = {
    {1, DMORIENT_PORTRAIT, false, TitlePage},          {2, DMORIENT_PORTRAIT, false, ShapesPage},
    {3, DMORIENT_PORTRAIT, false, PicturePage},        {4, DMORIENT_LANDSCAPE, false, LandscapeChartPage},
    {5, DMORIENT_PORTRAIT, true, TextPage},            {6, DMORIENT_PORTRAIT, false, FontsPage},
};

std::optional<int> PageNumber(const std::wstring& text) {
  if (text.empty() || text.size() > 2 || !std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; })) return std::nullopt;
  const int number = std::stoi(text);
  if (number < 1 || number > kSamplePageCount) return std::nullopt;
  return number;
}

}  // namespace

void DrawSamplePage(HDC dc, const SamplePage& page) {
  const int saved = SaveDC(dc);
  // Logical units of 0.1 mm (254 to the inch), whatever the device's resolution.
  SetMapMode(dc, MM_ANISOTROPIC);
  SetWindowExtEx(dc, 254, 254, nullptr);
  SetViewportExtEx(dc, GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY), nullptr);
  SetBkMode(dc, TRANSPARENT);
  page.draw(dc);
  RestoreDC(dc, saved);
}

std::optional<std::vector<SamplePage>> SelectSamplePages(const std::vector<std::wstring>& numbers) {
  if (numbers.empty()) return std::vector<SamplePage>(std::begin(kPages), std::end(kPages));
  std::vector<SamplePage> pages;
  for (const std::wstring& text : numbers) {
    const std::optional<int> number = PageNumber(text);
    if (!number) return std::nullopt;
    pages.push_back(kPages[*number - 1]);
  }
  return pages;
}

}  // namespace quil::e2e
