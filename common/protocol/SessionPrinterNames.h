// The client printer's part of a session printer's name, and the session a port name carries.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quil {

// A network printer's name, two backslashes, server, backslash, printer, reads "printer on
// server"; "\\server" alone reads "server". Any other name, including one with two backslashes
// elsewhere than at its start, stays as it is.
std::u16string ClientPrinterDisplayName(std::u16string_view clientPrinterName);

// The session id of a session printer's port name, "QPRN[<session>:<index>:<counter>]", each
// number a signed 32-bit decimal as formatted with "%d" (the session read back as the unsigned
// value it was formatted from); nullopt for any other name.
std::optional<uint32_t> SessionOfPortName(std::u16string_view portName);

}  // namespace quil
