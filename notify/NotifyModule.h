// The library's own module and the directory that holds its file (ending in a backslash), worked
// out once when the library is attached to the process.
#pragma once

#include <windows.h>

#include <string>

namespace quil {

void RecordModule(HMODULE module);
HMODULE Module();
const std::wstring& ModuleDirectory();

}  // namespace quil
