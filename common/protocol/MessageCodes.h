// Message codes shared by the printer-list and spool channels, and the check of a received code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quil {

// The first field of every message; a reply carries the code of the request it answers.
inline constexpr uint32_t MSG_GET_PRINTERS = 0;
inline constexpr uint32_t MSG_GET_PRINTER = 1;
inline constexpr uint32_t MSG_START_DOC = 2;
inline constexpr uint32_t MSG_END_DOC = 3;
inline constexpr uint32_t MSG_PAGE = 4;
// Sent only to a client that announced it understands it (SpoolExtension.h).
inline constexpr uint32_t MSG_PAGE_SETTINGS = 5;
inline constexpr uint32_t MSG_COMPRESSED_PAGE = 6;
inline constexpr uint32_t MSG_FONT_QUERY = 7;
inline constexpr uint32_t MSG_FONT_DATA = 8;
inline constexpr uint32_t MSG_COMPRESSED_FONT_DATA = 9;

inline constexpr std::size_t kMessageCodeOffset = 0;
inline constexpr std::size_t kMessageCodeSize = 4;
// Requests and acknowledgements that carry nothing but their code.
inline constexpr std::size_t kCodeOnlyMessageSize = kMessageCodeSize;

// The code of any message; nullopt if the message is shorter than a code.
std::optional<uint32_t> ReadMessageCode(std::span<const uint8_t> message);

// Whether the message starts with the given code.
bool IsMessage(std::span<const uint8_t> message, uint32_t code);

}  // namespace quil
