#include "JobSettings.h"

#include <algorithm>
#include <array>

#include "MessageReader.h"

namespace quil {

namespace {

using L = DevModeLayout;

constexpr std::array<JobSetting, 15> kMergedSettings = {{
    {L::kOrientation, 2, 0x1},        // DM_ORIENTATION
    {L::kPaperSize, 2, 0x2},          // DM_PAPERSIZE
    {L::kPaperWidth, 2, 0x8},         // DM_PAPERWIDTH
    {L::kPaperLength, 2, 0x4},        // DM_PAPERLENGTH
    {L::kScale, 2, 0x10},             // DM_SCALE
    {L::kCopies, 2, 0x100},           // DM_COPIES
    {L::kPrintQuality, 2, 0x400},     // DM_PRINTQUALITY
    {L::kColor, 2, 0x800},            // DM_COLOR
    {L::kDuplex, 2, 0x1000},          // DM_DUPLEX
    {L::kYResolution, 2, 0x2000},     // DM_YRESOLUTION
    {L::kTTOption, 2, 0x4000},        // DM_TTOPTION
    {L::kCollate, 2, 0x8000},         // DM_COLLATE
    {L::kFormName, L::kFormNameSize, 0x10000},  // DM_FORMNAME
    {L::kMediaType, 4, 0x2000000},    // DM_MEDIATYPE
    {L::kDitherType, 4, 0x4000000},   // DM_DITHERTYPE
}};

// The public size a DEVMODEW states, capped at the bytes actually present.
std::size_t PublicSize(std::span<const uint8_t> devMode) {
  const auto stated = CQuilMessageReader(devMode).U16(L::kSize);
  return stated ? std::min<std::size_t>(*stated, devMode.size()) : 0;
}

uint32_t ReadU32(std::span<const uint8_t> bytes, std::size_t position) {
  return *CQuilMessageReader(bytes).U32(position);
}

void WriteU32(std::span<uint8_t> bytes, std::size_t position, uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) bytes[position + i] = static_cast<uint8_t>(value >> 8 * i);
}

}  // namespace

std::span<const JobSetting> MergedJobSettings() { return kMergedSettings; }

bool MergeJobSettings(std::span<const uint8_t, JobStartLayout::kDevModeSize> job,
                      std::span<uint8_t> printer) {
  const std::size_t jobSize = PublicSize(job);
  const std::size_t printerSize = PublicSize(printer);
  if (jobSize < L::kFields + 4 || printerSize < L::kFields + 4) return false;
  const uint32_t jobFields = ReadU32(job, L::kFields);
  uint32_t printerFields = ReadU32(printer, L::kFields);
  for (const JobSetting& setting : kMergedSettings) {
    const std::size_t end = setting.offset + setting.size;
    if (end > jobSize || end > printerSize) continue;
    printerFields |= jobFields & setting.fieldBit;
    std::copy_n(job.begin() + setting.offset, setting.size, printer.begin() + setting.offset);
  }
  WriteU32(printer, L::kFields, printerFields);
  return true;
}

}  // namespace quil
