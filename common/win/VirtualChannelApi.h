// The remote-desktop client's static virtual-channel interface (cchannel.h). Its header spells the
// calling convention `_stdcall`, which the compiler only knows outside strict standard mode.
#pragma once

#include <windows.h>

#ifndef _stdcall
#define _stdcall __stdcall
#endif
#include <cchannel.h>
