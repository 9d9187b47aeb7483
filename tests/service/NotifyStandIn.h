// A stand-in for the notification library: it reports each call of its entry points, and its
// unloading, to an observer that the test installs through the export StandInSetObserver.
#pragma once

#include <windows.h>

enum class StandInEntry { Logon, Logoff, RemoveOrphans, Unload };

using StandInObserver = void (*)(StandInEntry entry, DWORD sessionId, HANDLE token);
using StandInSetObserverFn = void(WINAPI*)(StandInObserver observer);
