// The spooler environment that this build's driver and monitor are registered under. The spooler
// loads only modules of its own architecture and keeps each architecture's under its own name.
#pragma once

namespace quil {

#if defined(__i386__)
inline constexpr wchar_t kSpoolerEnvironment[] = L"Windows NT x86";
#elif defined(__x86_64__)
inline constexpr wchar_t kSpoolerEnvironment[] = L"Windows x64";
#else
#error "Quillon builds for x86 and x64 Windows only"
#endif

}  // namespace quil
