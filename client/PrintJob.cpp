#include "PrintJob.h"

#include <winspool.h>

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "JobSettings.h"
#include "UniquePrinter.h"
#include "WideText.h"

namespace quil {

namespace {

static_assert(offsetof(DEVMODEW, dmSize) == DevModeLayout::kSize);
static_assert(offsetof(DEVMODEW, dmFields) == DevModeLayout::kFields);
static_assert(offsetof(DEVMODEW, dmOrientation) == DevModeLayout::kOrientation);
static_assert(offsetof(DEVMODEW, dmPaperWidth) == DevModeLayout::kPaperWidth);
static_assert(offsetof(DEVMODEW, dmCopies) == DevModeLayout::kCopies);
static_assert(offsetof(DEVMODEW, dmCollate) == DevModeLayout::kCollate);
static_assert(offsetof(DEVMODEW, dmFormName) == DevModeLayout::kFormName);
static_assert(offsetof(DEVMODEW, dmMediaType) == DevModeLayout::kMediaType);
static_assert(offsetof(DEVMODEW, dmDitherType) == DevModeLayout::kDitherType);
static_assert(sizeof(DEVMODEW) == DevModeLayout::kPublicSize);
static_assert(sizeof(DOCINFOW) == (sizeof(void*) == 4 ? 20 : 40));

// The printer's level-2 information; its pDevMode points into the same buffer.
std::vector<BYTE> ReadPrinterInfo(const std::wstring& printerName) {
  UniquePrinter printer;
  if (!OpenPrinterW(const_cast<LPWSTR>(printerName.c_str()), printer.put(), nullptr)) {
    throw std::runtime_error("can't get printer");
  }
  DWORD needed = 0;
  GetPrinterW(printer.get(), 2, nullptr, 0, &needed);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_2W)) {
    throw std::runtime_error("get printer fail.");
  }
  std::vector<BYTE> info(needed);
  if (!GetPrinterW(printer.get(), 2, info.data(), needed, &needed)) {
    throw std::runtime_error("get printer fail.");
  }
  return info;
}

// The printer's DEVMODEW, public and driver part, as far as it lies inside the information block.
std::vector<uint8_t> CopyDevMode(const std::vector<BYTE>& info, const DEVMODEW* devMode) {
  const auto* begin = reinterpret_cast<const BYTE*>(devMode);
  const BYTE* end = info.data() + info.size();
  if (!devMode || begin < info.data() || begin >= end) return {};
  const auto available = static_cast<size_t>(end - begin);
  if (available < offsetof(DEVMODEW, dmFields)) return {};  // dmSize and dmDriverExtra must be there
  const size_t size = size_t{devMode->dmSize} + devMode->dmDriverExtra;
  if (size > available) return {};
  return {begin, begin + size};
}

}  // namespace

UniqueDC OpenPrintJob(const JobStart& job, std::vector<uint8_t>& printerSettings) {
  const std::wstring printerName = ToWide(job.printerName);
  const std::wstring documentName = ToWide(job.documentName);
  std::vector<BYTE> info = ReadPrinterInfo(printerName);
  DEVMODEW* devMode = reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode;
  printerSettings = CopyDevMode(info, devMode);
  // A printer without device settings of its own prints with its driver's defaults.
  if (devMode) {
    MergeJobSettings(job.devMode, {reinterpret_cast<uint8_t*>(devMode), devMode->dmSize});
  }
  UniqueDC dc(CreateDCW(L"WINSPOOL", printerName.c_str(), nullptr, devMode));
  if (!dc) throw std::runtime_error("can't create printer DC");
  DOCINFOW document{};
  document.cbSize = sizeof(document);
  document.lpszDocName = documentName.c_str();
  StartDocW(dc.get(), &document);
  return dc;
}

void ApplyPageSettings(HDC printerDC, const std::vector<uint8_t>& printerSettings,
                       std::span<const uint8_t, JobStartLayout::kDevModeSize> pageSettings) {
  std::vector<uint8_t> merged = printerSettings;
  if (!MergeJobSettings(pageSettings, merged)) return;
  ResetDCW(printerDC, reinterpret_cast<const DEVMODEW*>(merged.data()));
}

void PlayPage(HDC printerDC, std::span<const uint8_t> metafile) {
  UniqueEnhMetaFile page(SetEnhMetaFileBits(static_cast<UINT>(metafile.size()), metafile.data()));
  if (!page) return;
  StartPage(printerDC);
  // The metafile's picture frame is stretched over the printable area, whatever its own size.
  const RECT printable{0, 0, GetDeviceCaps(printerDC, HORZRES), GetDeviceCaps(printerDC, VERTRES)};
  PlayEnhMetaFile(printerDC, page.get(), &printable);
  EndPage(printerDC);
}

}  // namespace quil
