// Diagnostic log: appends timestamped entries to one text file shared by every process that
// carries it. Whether it writes at all is fixed when the module is built (off when delivered).
#pragma once

#include <windows.h>

namespace quil {

// Writes one entry. In the format, %s takes a wide string, %d/%u/%x 32-bit integers.
void Log(const wchar_t* format, ...);

// Writes "Result: <system text for code> [<code>]".
void LogErrorText(DWORD code);

}  // namespace quil
