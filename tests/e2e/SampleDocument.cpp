// Writes the sample document of the end-to-end run: each page as an enhanced metafile recorded
// with GDI, and the whole document as the spooler keeps a job (EMF spool data).
// Usage: quil_e2e_document <folder> [pages]   (pages 1-5; the full document has 5)
// Pages: text in Latin, Greek and Cyrillic script; shapes; a photograph-like picture; a landscape
// chart; a page of running text. Writes page-<n>.emf and document.spl into the folder.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "SpoolDataFixtures.h"
#include "UniqueGdi.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A page of the given size in 0.1 mm, drawn in 0.1 mm units from the top left corner.
class PageRecorder {
 public:
  PageRecorder(LONG width, LONG height) : width_(width), height_(height) {
    const RECT frame{0, 0, width * 10, height * 10};  // 0.01 mm
    dc_ = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon\0Sample document\0");
    // Logical units of 0.1 mm over the frame, whatever the reference device's resolution.
    SetMapMode(dc_, MM_ANISOTROPIC);
    SetWindowExtEx(dc_, width, height, nullptr);
    const int pixelsX = MulDiv(width, GetDeviceCaps(dc_, HORZRES), GetDeviceCaps(dc_, HORZSIZE) * 10);
    const int pixelsY = MulDiv(height, GetDeviceCaps(dc_, VERTRES), GetDeviceCaps(dc_, VERTSIZE) * 10);
    SetViewportExtEx(dc_, pixelsX, pixelsY, nullptr);
    SetBkMode(dc_, TRANSPARENT);
  }
  HDC dc() const { return dc_; }
  LONG width() const { return width_; }
  LONG height() const { return height_; }

  void Text(int x, int y, int height, const std::wstring& text, COLORREF color = RGB(0, 0, 0),
            int weight = FW_NORMAL) {
    const quil::UniqueGdiObject font(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0,
                                                 0, ANTIALIASED_QUALITY, 0, L"Tahoma"));
    const HGDIOBJ old = SelectObject(dc_, font.get());
    SetTextColor(dc_, color);
    TextOutW(dc_, x, y, text.c_str(), static_cast<int>(text.size()));
    SelectObject(dc_, old);
  }

  void Fill(const RECT& area, COLORREF color) {
    const quil::UniqueGdiObject brush(CreateSolidBrush(color));
    FillRect(dc_, &area, static_cast<HBRUSH>(brush.get()));
  }

  Bytes Finish() {
    const quil::UniqueEnhMetaFile metafile(CloseEnhMetaFile(dc_));
    const UINT size = GetEnhMetaFileBits(metafile.get(), 0, nullptr);
    Bytes bytes(size);
    GetEnhMetaFileBits(metafile.get(), size, bytes.data());
    return bytes;
  }

 private:
  LONG width_, height_;
  HDC dc_;
};

constexpr LONG kA4Width = 2100, kA4Height = 2970;

Bytes TitlePage() {
  PageRecorder page(kA4Width, kA4Height);
  page.Fill({100, 100, 2000, 400}, RGB(30, 60, 140));
  page.Text(150, 170, 120, L"Quillon sample document", RGB(255, 255, 255), FW_BOLD);
  page.Text(150, 600, 80, L"Printed on the terminal server,");
  page.Text(150, 720, 80, L"played on the client's own printer.");
  page.Text(150, 1000, 90, L"\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5",
            RGB(140, 20, 20));
  page.Text(150, 1150, 90, L"\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440", RGB(20, 110, 40));
  page.Text(150, 2700, 50, L"Page 1");
  return page.Finish();
}

Bytes ShapesPage() {
  PageRecorder page(kA4Width, kA4Height);
  page.Text(150, 150, 90, L"Shapes", RGB(0, 0, 0), FW_BOLD);
  const COLORREF colors[] = {RGB(220, 40, 40), RGB(40, 160, 60), RGB(40, 80, 220), RGB(240, 180, 20)};
  for (int i = 0; i < 4; ++i) {
    const quil::UniqueGdiObject brush(CreateSolidBrush(colors[i]));
    const quil::UniqueGdiObject pen(CreatePen(PS_SOLID, 8, RGB(0, 0, 0)));
    const HGDIOBJ oldBrush = SelectObject(page.dc(), brush.get());
    const HGDIOBJ oldPen = SelectObject(page.dc(), pen.get());
    const int x = 200 + (i % 2) * 900, y = 400 + (i / 2) * 900;
    if (i == 0) Rectangle(page.dc(), x, y, x + 700, y + 600);
    if (i == 1) Ellipse(page.dc(), x, y, x + 700, y + 600);
    if (i == 2) RoundRect(page.dc(), x, y, x + 700, y + 600, 150, 150);
    if (i == 3) {
      const POINT star[] = {{x + 350, y}, {x + 440, y + 230}, {x + 700, y + 230}, {x + 490, y + 380}, {x + 570, y + 600},
                            {x + 350, y + 470}, {x + 130, y + 600}, {x + 210, y + 380}, {x, y + 230}, {x + 260, y + 230}};
      Polygon(page.dc(), star, 10);
    }
    SelectObject(page.dc(), oldBrush);
    SelectObject(page.dc(), oldPen);
  }
  for (int i = 0; i < 12; ++i) {
    MoveToEx(page.dc(), 200, 2300 + i * 40, nullptr);
    LineTo(page.dc(), 1900, 2300 + i * 40 + (i % 3) * 60);
  }
  page.Text(150, 2800, 50, L"Page 2");
  return page.Finish();
}

// A landscape at dusk: a sky gradient, a sun, hills and a little noise, as a 24-bit bitmap.
Bytes PicturePage() {
  PageRecorder page(kA4Width, kA4Height);
  page.Text(150, 150, 90, L"A picture", RGB(0, 0, 0), FW_BOLD);
  constexpr int kWidth = 480, kHeight = 360;
  std::vector<uint8_t> pixels(static_cast<size_t>(kWidth) * kHeight * 3);
  unsigned noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double top = 1.0 - static_cast<double>(y) / kHeight;  // bitmap rows run bottom-up
      const double hill = 120 + 40 * std::sin(x / 50.0) + 20 * std::sin(x / 17.0);
      const double sun = std::hypot(x - 340.0, y - 250.0);
      double r = 250 * top + 60, g = 140 * top + 40, b = 90 + 120 * (1 - top);
      if (sun < 40) r = 255, g = 230, b = 120;
      if (y < hill) r = 40 + y / 4, g = 90 + y / 3, b = 40;
      noise = noise * 1103515245 + 12345;
      const int grain = static_cast<int>((noise >> 16) % 17) - 8;
      uint8_t* pixel = &pixels[(static_cast<size_t>(y) * kWidth + x) * 3];
      pixel[0] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(b) + grain, 0, 255));
      pixel[1] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(g) + grain, 0, 255));
      pixel[2] = static_cast<uint8_t>(std::clamp<int>(static_cast<int>(r) + grain, 0, 255));
    }
  }
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
  StretchDIBits(page.dc(), 150, 400, 1800, 1350, 0, 0, kWidth, kHeight, pixels.data(), &info, DIB_RGB_COLORS,
                SRCCOPY);
  page.Text(150, 1850, 60, L"Sky, sun and hills, drawn pixel by pixel.");
  page.Text(150, 2800, 50, L"Page 3");
  return page.Finish();
}

Bytes LandscapeChartPage() {
  PageRecorder page(kA4Height, kA4Width);
  page.Text(150, 120, 90, L"Landscape chart", RGB(0, 0, 0), FW_BOLD);
  const int values[] = {12, 19, 7, 23, 15, 28, 21, 9, 17, 25, 13, 30};
  for (int i = 0; i < 12; ++i) {
    const int x = 250 + i * 200, height = values[i] * 50;
    page.Fill({x, 1800 - height, x + 140, 1800}, RGB(40 + i * 15, 90, 200 - i * 10));
    page.Text(x + 20, 1830, 45, std::to_wstring(i + 1));
  }
  MoveToEx(page.dc(), 200, 1800, nullptr);
  LineTo(page.dc(), 2750, 1800);
  page.Text(150, 1950, 50, L"Page 4");
  return page.Finish();
}

Bytes TextPage() {
  PageRecorder page(kA4Width, kA4Height);
  page.Text(150, 150, 90, L"Running text", RGB(0, 0, 0), FW_BOLD);
  const wchar_t* lines[] = {L"Each page of a job travels as one enhanced metafile.",
                            L"The client acknowledges every message before the next one is sent.",
                            L"When the user logs off, her session printers are removed",
                            L"and the default printer she had before comes back.",
                            L"\u0391\u03b2\u03b3 \u0394\u03b5\u03b6 \u2014 \u0410\u0431\u0432 \u0413\u0434\u0435"};
  int y = 400;
  for (const wchar_t* line : lines) {
    page.Text(150, y, 55, line);
    y += 110;
  }
  page.Text(150, 2800, 50, L"Page 5");
  return page.Finish();
}

bool WriteFile(const std::wstring& path, const Bytes& bytes) {
  std::ofstream file(path.c_str(), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: quil_e2e_document <folder> [pages]\n");
    return 2;
  }
  const std::wstring folder = std::wstring(argv[1]) + L"\\";
  const int pageCount = argc > 2 ? std::clamp(_wtoi(argv[2]), 1, 5) : 5;
  Bytes (*const makers[])() = {TitlePage, ShapesPage, PicturePage, LandscapeChartPage, TextPage};
  quil::test::SpoolFile spool;
  for (int i = 0; i < pageCount; ++i) {
    const Bytes page = makers[i]();
    if (page.empty() || !WriteFile(folder + L"page-" + std::to_wstring(i + 1) + L".emf", page)) return 1;
    spool.Page(page);
  }
  return WriteFile(folder + L"document.spl", spool.Bytes()) ? 0 : 1;
}
