// Merging a job's device settings into a printer's own, on the bytes of their DEVMODEW blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "SpoolMessages.h"

namespace quil {

// Offsets within a DEVMODEW (not within the job-start message, where the block starts at byte 4).
struct DevModeLayout {
  static constexpr std::size_t kSize = 68;    // dmSize: bytes of the public part
  static constexpr std::size_t kFields = 72;  // dmFields: which fields hold values
  static constexpr std::size_t kOrientation = 76;
  static constexpr std::size_t kPaperSize = 78;
  static constexpr std::size_t kPaperLength = 80;
  static constexpr std::size_t kPaperWidth = 82;
  static constexpr std::size_t kScale = 84;
  static constexpr std::size_t kCopies = 86;
  static constexpr std::size_t kPrintQuality = 90;
  static constexpr std::size_t kColor = 92;
  static constexpr std::size_t kDuplex = 94;
  static constexpr std::size_t kYResolution = 96;
  static constexpr std::size_t kTTOption = 98;
  static constexpr std::size_t kCollate = 100;
  static constexpr std::size_t kFormName = 102;
  static constexpr std::size_t kFormNameSize = 64;
  static constexpr std::size_t kMediaType = 196;
  static constexpr std::size_t kDitherType = 200;
  static constexpr std::size_t kPublicSize = 220;
};
static_assert(DevModeLayout::kPublicSize == JobStartLayout::kDevModeSize);
static_assert(DevModeLayout::kFormName + DevModeLayout::kFormNameSize == 166);

// One setting that a job carries over to the printer: where it lies and its dmFields bit.
struct JobSetting {
  std::size_t offset;
  std::size_t size;
  uint32_t fieldBit;
};

// The settings taken from the job, in the order they are merged.
std::span<const JobSetting> MergedJobSettings();

// Copies each merged setting's value from the job's DEVMODEW into the printer's and ORs its bit
// from the job's dmFields into the printer's. The value is copied whether or not the job's mask
// has the bit, and a bit that the job's mask lacks leaves the printer's mask as it was. `printer`
// is the printer's public part (its dmSize bytes); a setting is merged only where it lies inside
// the public part of both blocks, so neither block's driver-private bytes are read or written and
// nothing is written past `printer`. Returns false, changing nothing, when either block is too
// short to hold dmFields.
bool MergeJobSettings(std::span<const uint8_t, JobStartLayout::kDevModeSize> job,
                      std::span<uint8_t> printer);

}  // namespace quil
