// The client printer's part of a session printer's name.
#pragma once

#include <string>
#include <string_view>

namespace quil {

// A network printer's name, two backslashes, server, backslash, printer, reads "printer on
// server"; "\\server" alone reads "server". Any other name, including one with two backslashes
// elsewhere than at its start, stays as it is.
std::u16string ClientPrinterDisplayName(std::u16string_view clientPrinterName);

}  // namespace quil
