#include "PrintingDevice.h"

#include <winspool.h>

#include "UniquePrinter.h"

namespace quil::e2e {
namespace {

const DEVMODEW* AsDevMode(const std::vector<uint8_t>& bytes) {
  return reinterpret_cast<const DEVMODEW*>(bytes.data());
}

}  // namespace

PrintingDevice::PrintingDevice(const std::wstring& printer) : printer_(printer), settings_(DriverSettings(nullptr)) {
  if (settings_.empty()) return;
  dc_.reset(CreateDCW(L"WINSPOOL", printer_.c_str(), nullptr, AsDevMode(settings_)));
}

short PrintingDevice::orientation() const { return AsDevMode(settings_)->dmOrientation; }

bool PrintingDevice::Orient(short orientation) {
  if (orientation == this->orientation()) return true;
  std::vector<uint8_t> wanted = DriverSettings(nullptr);
  if (wanted.empty()) return false;
  auto* devMode = reinterpret_cast<DEVMODEW*>(wanted.data());
  devMode->dmOrientation = orientation;
  devMode->dmFields |= DM_ORIENTATION;
  std::vector<uint8_t> merged = DriverSettings(devMode);
  if (merged.empty() || AsDevMode(merged)->dmOrientation != orientation) return false;
  if (!ResetDCW(dc_.get(), AsDevMode(merged))) return false;
  settings_ = std::move(merged);
  return true;
}

std::vector<uint8_t> PrintingDevice::DriverSettings(const DEVMODEW* input) const {
  UniquePrinter printer;
  if (!OpenPrinterW(const_cast<LPWSTR>(printer_.c_str()), printer.put(), nullptr)) return {};
  const auto name = const_cast<LPWSTR>(printer_.c_str());
  const LONG size = DocumentPropertiesW(nullptr, printer.get(), name, nullptr, nullptr, 0);
  if (size <= 0) return {};
  std::vector<uint8_t> settings(static_cast<size_t>(size));
  const DWORD mode = DM_OUT_BUFFER | (input ? DM_IN_BUFFER : 0);
  if (DocumentPropertiesW(nullptr, printer.get(), name, reinterpret_cast<DEVMODEW*>(settings.data()),
                          const_cast<DEVMODEW*>(input), mode) != IDOK) {
    return {};
  }
  const DEVMODEW* devMode = AsDevMode(settings);
  if (devMode->dmSize < sizeof(DEVMODEW) || devMode->dmSize + devMode->dmDriverExtra > settings.size()) return {};
  settings.resize(devMode->dmSize + devMode->dmDriverExtra);
  return settings;
}

}  // namespace quil::e2e
