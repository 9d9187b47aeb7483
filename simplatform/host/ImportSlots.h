// Replacing a function in one module's import address table: every call that module makes through
// its import of `functionName` from `dllName` then reaches `replacement`. Other modules keep their
// own slots, so only the patched module is affected.
#pragma once

#include <windows.h>

namespace sim::host {

// Writes `replacement` into the module's slot for the named import and returns what the slot held
// before (the replacement itself when the slot was already patched); null when the module does
// not import that function by name from that DLL or the slot could not be written.
void* ReplaceImport(HMODULE module, const char* dllName, const char* functionName, void* replacement);

}  // namespace sim::host
