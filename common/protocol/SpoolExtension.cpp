#include "SpoolExtension.h"

#include <algorithm>

#include "MessageReader.h"
#include "MessageWriter.h"

namespace quil {

std::vector<uint8_t> BuildJobStartAck(uint32_t capabilities) {
  using Layout = JobStartAckLayout;
  CQuilMessageWriter writer(MSG_START_DOC, Layout::kExtendedSize);
  writer.PutU32(Layout::kMarker, kExtensionMarker);
  writer.PutU32(Layout::kVersion, kExtensionVersion);
  writer.PutU32(Layout::kCapabilities, capabilities);
  return writer.Take();
}

uint32_t ParseJobStartAck(std::span<const uint8_t> answer) {
  using Layout = JobStartAckLayout;
  const CQuilMessageReader reader(answer);
  const auto capabilities = reader.U32(Layout::kCapabilities);
  if (reader.U32(kMessageCodeOffset) != MSG_START_DOC || reader.U32(Layout::kMarker) != kExtensionMarker ||
      reader.U32(Layout::kVersion).value_or(0) < 1 || !capabilities) {
    return 0;
  }
  return *capabilities;
}

std::vector<uint8_t> BuildPageSettings(std::span<const uint8_t, JobStartLayout::kDevModeSize> devMode) {
  CQuilMessageWriter writer(MSG_PAGE_SETTINGS, PageSettingsLayout::kFixedSize);
  writer.PutBytes(PageSettingsLayout::kDevMode, devMode);
  return writer.Take();
}

std::optional<DevModeBlock> ParsePageSettings(std::span<const uint8_t> message) {
  const CQuilMessageReader reader(message);
  const auto devMode = reader.Bytes(PageSettingsLayout::kDevMode, JobStartLayout::kDevModeSize);
  if (reader.U32(kMessageCodeOffset) != MSG_PAGE_SETTINGS || !devMode) return std::nullopt;
  DevModeBlock block{};
  std::copy(devMode->begin(), devMode->end(), block.begin());
  return block;
}

std::vector<uint8_t> BuildPageSettingsAck() {
  return CQuilMessageWriter(MSG_PAGE_SETTINGS, kCodeOnlyMessageSize).Take();
}

}  // namespace quil
