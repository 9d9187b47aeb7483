// printf-style formatting of wide strings with the Windows runtime's meaning of the format, where
// %s takes a wide string (mingw's C99 printf would read it as a narrow one).
#pragma once

#include <stdarg.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

// mingw's headers declare this only when their C99 printf is off, which libstdc++ turns on.
extern "C" int __cdecl __ms_vsnwprintf(wchar_t*, size_t, const wchar_t*, va_list);

namespace quil {

// The formatted text; texts longer than 1023 characters are cut.
inline std::wstring FormatWide(const wchar_t* format, ...) {
  wchar_t text[1024];
  va_list args;
  va_start(args, format);
  const int length = __ms_vsnwprintf(text, _countof(text) - 1, format, args);
  va_end(args);
  text[_countof(text) - 1] = L'\0';
  return length < 0 ? std::wstring(text) : std::wstring(text, static_cast<size_t>(length));
}

}  // namespace quil
