// The device-mode block that a job-start message carries, taken from the job's DEVMODEW.
#pragma once

#include <cstdint>
#include <span>

#include "JobSettings.h"
#include "SpoolMessages.h"

namespace quil {

// `devMode` is every byte of the job's DEVMODEW that is known to be readable (empty: the job has
// none). Copies the public part as far as its dmSize states, at most 220 bytes and never beyond
// `devMode`; the rest of the block is zero. A DEVMODEW too short to hold dmSize gives all zeros.
DevModeBlock DevModeBlockOf(std::span<const uint8_t> devMode);

}  // namespace quil
