// The block that tells the port monitor which session, user and client printer a port serves:
// the input of the monitor's "PortSettings" command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace quil {

// Four little-endian 32-bit fields, then the string area with three NUL-terminated UTF-16LE
// strings. Each string offset counts from the start of the string area.
struct PortSettingsLayout {
  static constexpr std::size_t kPortNameOffset = 0;
  static constexpr std::size_t kClientPrinterNameOffset = 4;
  static constexpr std::size_t kSessionId = 8;
  static constexpr std::size_t kUserNameOffset = 12;
  static constexpr std::size_t kStringArea = 16;
};
static_assert(PortSettingsLayout::kPortNameOffset + 4 == PortSettingsLayout::kClientPrinterNameOffset);
static_assert(PortSettingsLayout::kClientPrinterNameOffset + 4 == PortSettingsLayout::kSessionId);
static_assert(PortSettingsLayout::kSessionId + 4 == PortSettingsLayout::kUserNameOffset);
static_assert(PortSettingsLayout::kUserNameOffset + 4 == PortSettingsLayout::kStringArea);

struct PortSettings {
  std::u16string portName;
  std::u16string clientPrinterName;
  std::u16string userName;  // without the domain
  uint32_t sessionId = 0;

  bool operator==(const PortSettings&) const = default;
};

// Sized exactly for the strings; they are laid in from the block's end backwards: port name
// last, client printer name before it, user name first (at offset 0).
std::vector<uint8_t> BuildPortSettingsBlock(const PortSettings& settings);

// Finds each string through its offset, whatever order they were packed in. nullopt for a block
// shorter than its fixed part or a string that does not end inside the block.
std::optional<PortSettings> ParsePortSettingsBlock(std::span<const uint8_t> block);

}  // namespace quil
