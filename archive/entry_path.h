#pragma once

// The path rules for entry names: what may be extracted, what is left out silently and what
// makes the whole archive unsafe.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrivon::archive {

enum class EntryPathVerdict : uint8_t {
  Accept = 0,
  Skip = 1,
  Unsafe = 2,
  Unusable = 3,  // a name no Windows program can open: see IsUnusableWindowsName
};

// Turns an entry name into a relative '/'-separated path (backslashes count as separators),
// or tells that the entry is to be left out silently (meta-inf, junk names, components that
// are "." or hold ':' or end in '.' or ' '), or that it tries to leave the destination, or
// that one of its components is a name Windows programs cannot use.
EntryPathVerdict NormalizeEntryPath(std::string_view name, std::string& normalized);

// A device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and their superscript-digit forms, CONIN$,
// CONOUT$) with any extension and in any case, or a name holding < > " | ? * or a control
// character (C0, DEL, C1). Created through the long form, such a file is one the runtime and
// Explorer can neither open nor delete. The publisher refuses what the extractor refuses.
bool IsUnusableWindowsName(std::string_view component);

// ".DS_Store", "Thumbs.db", "desktop.ini", "__MACOSX" in any ASCII letter case.
bool IsJunkName(std::string_view component);

// Well-formed UTF-8 without NUL: only such text can become a file name on every platform.
bool IsUtf8PathText(std::string_view text);

}  // namespace kestrivon::archive
