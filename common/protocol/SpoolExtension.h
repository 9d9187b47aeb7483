// The spool channel's compatible extension. A client that understands more than the original
// messages says so in its job-start acknowledgement, which an original server reads whole without
// looking at its content: after the code come a marker, a version and a set of capability flags.
// The server sends a new message only to a client that announced it, for the rest of that job;
// an acknowledgement without the marker means the original protocol for the whole job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "MessageCodes.h"
#include "SpoolMessages.h"

namespace quil {

// Extended job-start acknowledgement (client to server): code MSG_START_DOC, marker, version,
// capabilities. Later versions may append fields; a reader ignores what follows the flags.
struct JobStartAckLayout {
  static constexpr std::size_t kMarker = 4;
  static constexpr std::size_t kVersion = 8;
  static constexpr std::size_t kCapabilities = 12;
  static constexpr std::size_t kExtendedSize = 16;
};
static_assert(JobStartAckLayout::kMarker == kMessageCodeSize);
static_assert(JobStartAckLayout::kMarker + 4 == JobStartAckLayout::kVersion);
static_assert(JobStartAckLayout::kVersion + 4 == JobStartAckLayout::kCapabilities);
static_assert(JobStartAckLayout::kCapabilities + 4 == JobStartAckLayout::kExtendedSize);

inline constexpr uint32_t kExtensionMarker = 0x54584551;  // the bytes "QEXT"
inline constexpr uint32_t kExtensionVersion = 1;

// Capability flags.
// MSG_PAGE_SETTINGS before the pages whose device settings differ from the job's.
inline constexpr uint32_t kCapPageSettings = 0x1;
// MSG_COMPRESSED_PAGE in place of MSG_PAGE for a page that shrinks (PageCompression.h).
inline constexpr uint32_t kCapCompressedPages = 0x2;
// The server sends the next messages before the earlier ones are acknowledged, within a bound in
// bytes; the client handles them strictly in order and still acknowledges each one, in order.
inline constexpr uint32_t kCapPageWindow = 0x4;
// MSG_FONT_QUERY and MSG_FONT_DATA: the fonts of the pages that the client lacks travel with the job.
inline constexpr uint32_t kCapFonts = 0x8;

// Page settings (server to client): code MSG_PAGE_SETTINGS and the public part of the DEVMODEW
// that applies from the next page on, laid out as in the job start. Acknowledged by its code alone.
struct PageSettingsLayout {
  static constexpr std::size_t kDevMode = 4;
  static constexpr std::size_t kFixedSize = kDevMode + JobStartLayout::kDevModeSize;
};
static_assert(PageSettingsLayout::kDevMode == kMessageCodeSize);
static_assert(PageSettingsLayout::kFixedSize == 224);

std::vector<uint8_t> BuildJobStartAck(uint32_t capabilities);
// The capabilities that a job-start acknowledgement announces; 0 for the original acknowledgement
// and for any answer without the marker, another code or a version below 1.
uint32_t ParseJobStartAck(std::span<const uint8_t> answer);

std::vector<uint8_t> BuildPageSettings(std::span<const uint8_t, JobStartLayout::kDevModeSize> devMode);
// nullopt for another code or a message shorter than its fixed part; bytes after it are ignored.
std::optional<DevModeBlock> ParsePageSettings(std::span<const uint8_t> message);
std::vector<uint8_t> BuildPageSettingsAck();

}  // namespace quil
