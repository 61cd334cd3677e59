#pragma once

// ANSI code pages: the machine's (which the Java runtime uses for paths) and the process's
// (in which the app-link socket path is given).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrivon::win {

inline constexpr uint32_t kCodePageUtf7 = 65000;
inline constexpr uint32_t kCodePageUtf8 = 65001;

// HKLM "SYSTEM\CurrentControlSet\Control\Nls\CodePage" "ACP"; when missing or 0 the system
// default locale's ANSI code page; 65001 when neither is known.
uint32_t SystemAnsiCodePage();

// True when `path` converts to `codePage` exactly (no default character, no best fit). Always
// true for an empty path and for UTF-7 and UTF-8.
bool IsRepresentableInCodePage(std::wstring_view path, uint32_t codePage);

// UTF-8 text in the process's ANSI code page; nothing when it is not valid UTF-8 or has a
// character that code page lacks.
std::optional<std::string> Utf8ToAnsi(std::string_view text);

// The same for any code page. UTF-8 passes through unchanged once validated: the exactness
// checks of the other code pages are not allowed there.
std::optional<std::string> Utf8ToCodePage(std::string_view text, uint32_t codePage);

}  // namespace kestrivon::win
