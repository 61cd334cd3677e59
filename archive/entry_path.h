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
};

// Turns an entry name into a relative '/'-separated path (backslashes count as separators),
// or tells that the entry is to be left out silently (meta-inf, junk names, components that
// are "." or hold ':' or end in '.' or ' '), or that it tries to leave the destination.
EntryPathVerdict NormalizeEntryPath(std::string_view name, std::string& normalized);

// ".DS_Store", "Thumbs.db", "desktop.ini", "__MACOSX" in any ASCII letter case.
bool IsJunkName(std::string_view component);

// Well-formed UTF-8 without NUL: only such text can become a file name on every platform.
bool IsUtf8PathText(std::string_view text);

// The text with every byte that is not part of well-formed UTF-8 (and NUL) written as
// "\xNN", so that a hostile name can be shown in a UTF-8 log line.
std::string PrintableName(std::string_view text);

}  // namespace kestrivon::archive
