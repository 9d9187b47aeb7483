// The port monitor's transceive commands ("AddPort", "PortSettings", "RemovePort"), sent through
// the spooler's object ",XcvMonitor Quillon Port" as the calling identity (the service itself).
#pragma once

#include <windows.h>

#include <string>

namespace quil {

// True only when the command reached the monitor and the monitor accepted it: a refusal that
// the monitor returns through XcvDataW's status (a port that already exists, settings for a port
// it does not know) fails the command as much as a failing call does. Either is logged.
bool SendPortCommand(const wchar_t* command, const void* input, DWORD inputSize);

// "AddPort" and "RemovePort" with the port name as their input.
bool SendPortCommand(const wchar_t* command, const std::wstring& portName);

}  // namespace quil
