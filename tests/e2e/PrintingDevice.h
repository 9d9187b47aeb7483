// An application's device context on a printer as it prints a document: made with the printer's
// own device settings and switched between portrait and landscape with ResetDC between pages.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "UniqueGdi.h"

namespace quil::e2e {

class PrintingDevice {
 public:
  // Reads the printer's own settings as the application gets them (DocumentPropertiesW) and
  // makes the device context with them.
  explicit PrintingDevice(const std::wstring& printer);

  // False if the printer's settings could not be read or its device context not made.
  explicit operator bool() const { return static_cast<bool>(dc_); }
  HDC dc() const { return dc_.get(); }
  short orientation() const;
  // The whole DEVMODEW that the device context has now: public part and the driver's part.
  const std::vector<uint8_t>& settings() const { return settings_; }

  // Unless the device context is in that orientation already: the printer's own settings with
  // the orientation changed, as the driver merges them, given to the device context with ResetDCW.
  // Between pages only. False if the driver or ResetDCW refused them.
  bool Orient(short orientation);

 private:
  // The printer's settings through DocumentPropertiesW: its own (no `input`), or `input` merged
  // into them; empty on failure.
  std::vector<uint8_t> DriverSettings(const DEVMODEW* input) const;

  std::wstring printer_;
  std::vector<uint8_t> settings_;
  UniqueDC dc_;
};

}  // namespace quil::e2e
