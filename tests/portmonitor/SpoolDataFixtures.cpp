#include "SpoolDataFixtures.h"

#include <string>

#include "UniqueGdi.h"

namespace quil::test {

std::vector<uint8_t> RecordedPage(int number, size_t extraBytes) {
  const RECT frame{0, 0, 21000, 29700};  // A4 in 0.01 mm
  HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon test\0Page\0");
  if (!dc) return {};
  Rectangle(dc, 100, 100, 2000, 2800);
  Ellipse(dc, 300 + number * 10, 300, 900, 700);
  const std::wstring text = L"Page " + std::to_wstring(number);
  TextOutW(dc, 200, 1000, text.c_str(), static_cast<int>(text.size()));
  if (extraBytes) {
    const LONG side = static_cast<LONG>(extraBytes / 4 / 512 + 1);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 512, side, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> pixels(static_cast<size_t>(512) * side * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 31 + number);
    StretchDIBits(dc, 0, 0, 512, side, 0, 0, 512, side, pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  }
  const UniqueEnhMetaFile metafile(CloseEnhMetaFile(dc));
  const UINT size = GetEnhMetaFileBits(metafile.get(), 0, nullptr);
  std::vector<uint8_t> bytes(size);
  GetEnhMetaFileBits(metafile.get(), size, bytes.data());
  return bytes;
}

std::vector<uint8_t> RecordedTextPage(int number, const std::vector<std::wstring>& faces) {
  const RECT frame{0, 0, 21000, 29700};
  HDC dc = CreateEnhMetaFileW(nullptr, nullptr, &frame, L"Quillon test\0Page\0");
  if (!dc) return {};
  int line = 0;
  for (const std::wstring& face : faces) {
    LOGFONTW logFont{};
    logFont.lfHeight = -60;
    logFont.lfWeight = FW_NORMAL;
    face.copy(logFont.lfFaceName, LF_FACESIZE - 1);
    const UniqueGdiObject font(CreateFontIndirectW(&logFont));
    const HGDIOBJ previous = SelectObject(dc, font.get());
    const std::wstring text = L"AAA " + std::to_wstring(number) + L" " + face;
    TextOutW(dc, 200, 200 + 100 * line++, text.c_str(), static_cast<int>(text.size()));
    SelectObject(dc, previous);
  }
  const UniqueEnhMetaFile metafile(CloseEnhMetaFile(dc));
  const UINT size = GetEnhMetaFileBits(metafile.get(), 0, nullptr);
  std::vector<uint8_t> bytes(size);
  GetEnhMetaFileBits(metafile.get(), size, bytes.data());
  return bytes;
}

SpoolFile::SpoolFile(uint32_t version, uint32_t headerSize) {
  Put(version);
  Put(headerSize);
  Put(0);
  Put(0);
  while (bytes_.size() < headerSize) bytes_.push_back(0xEE);
}

SpoolFile SpoolFile::WithNames(const std::wstring& document, const std::wstring& device) {
  const auto documentAt = static_cast<uint32_t>(16);
  const auto deviceAt = static_cast<uint32_t>(documentAt + (document.size() + 1) * 2);
  const auto headerSize = static_cast<uint32_t>((deviceAt + (device.size() + 1) * 2 + 3) & ~size_t{3});
  SpoolFile file(0x10000, headerSize);
  file.bytes_.resize(8);  // version and header size
  file.Put(documentAt);
  file.Put(deviceAt);
  for (const std::wstring* name : {&document, &device}) {
    for (const wchar_t unit : *name) {
      file.bytes_.push_back(static_cast<uint8_t>(unit));
      file.bytes_.push_back(static_cast<uint8_t>(unit >> 8));
    }
    file.bytes_.insert(file.bytes_.end(), 2, 0);
  }
  file.bytes_.resize(headerSize);
  return file;
}

SpoolFile& SpoolFile::Record(uint32_t type, const std::vector<uint8_t>& data) {
  Head(type, static_cast<uint32_t>(data.size()));
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

SpoolFile& SpoolFile::Head(uint32_t type, uint32_t size) {
  Put(type);
  Put(size);
  return *this;
}

SpoolFile& SpoolFile::PageOffset(uint32_t type, size_t pageAt) {
  const uint64_t distance = bytes_.size() - pageAt;
  Head(type, 8);
  Put(static_cast<uint32_t>(distance));
  Put(static_cast<uint32_t>(distance >> 32));
  return *this;
}

std::vector<uint8_t> SpoolFile::BytesWithout(size_t count) const {
  return {bytes_.begin(), bytes_.end() - static_cast<std::ptrdiff_t>(count)};
}

void SpoolFile::Put(uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> 8 * i));
}

std::vector<uint8_t> JobDevMode(uint16_t dmSize, uint16_t driverExtra) {
  std::vector<uint8_t> devMode(dmSize + driverExtra);
  for (size_t i = 0; i < devMode.size(); ++i) devMode[i] = static_cast<uint8_t>(i * 13 + 5);
  devMode[68] = static_cast<uint8_t>(dmSize);
  devMode[69] = static_cast<uint8_t>(dmSize >> 8);
  devMode[70] = static_cast<uint8_t>(driverExtra);
  devMode[71] = static_cast<uint8_t>(driverExtra >> 8);
  return devMode;
}

}  // namespace quil::test
