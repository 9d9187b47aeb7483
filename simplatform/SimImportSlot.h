// The linker name of a dllimport function's import slot. A test executable that defines the slot
// itself replaces the function for every caller in the executable. x86 decorates stdcall names
// with an underscore and the argument bytes; x64 has one calling convention and no decoration.
#pragma once

#if defined(__i386__)
#define SIM_IMPORT_SLOT(name, argumentBytes) "__imp__" #name "@" #argumentBytes
#else
#define SIM_IMPORT_SLOT(name, argumentBytes) "__imp_" #name
#endif
