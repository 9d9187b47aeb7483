// Conversions between the platform's wide strings and the protocol's UTF-16 strings.
#pragma once

#include <string>
#include <string_view>

namespace quil {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Windows wide strings are UTF-16");

inline std::u16string ToU16(std::wstring_view text) { return {text.begin(), text.end()}; }
inline std::wstring ToWide(std::u16string_view text) { return {text.begin(), text.end()}; }

}  // namespace quil
