// The add-in's own module handle, remembered when the library is loaded.
#pragma once

#include <windows.h>

namespace quil {

HMODULE AddinModule();

}  // namespace quil
