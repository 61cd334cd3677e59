#pragma once

// Conversions between the engine's UTF-8 texts and the wide strings of the Windows API.
// Both use the UTF-8 code page explicitly; an empty or unconvertible input gives an empty
// string rather than a failure.

#include <string>
#include <string_view>

namespace kestrivon::win {

std::wstring WideFromUtf8(std::string_view text);

std::string Utf8FromWide(std::wstring_view text);

}  // namespace kestrivon::win
