// The port name that the monitor's "AddPort" and "RemovePort" commands receive.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quil {

// A UTF-16LE name ending in a 16-bit NUL that lies inside the stated input. nullopt for no input,
// an input without a NUL, or an empty name. An odd trailing byte is never read as part of a unit.
std::optional<std::u16string> ParseXcvPortName(std::span<const uint8_t> input);

}  // namespace quil
