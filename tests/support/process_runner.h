#pragma once

// The folder that helper programs are built into, beside the test executable.

#include <windows.h>

#include <string>

namespace kestrivon::testing {

// The folder of the running test executable, without a trailing backslash.
inline std::wstring TestExeFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.rfind(L'\\'));
}

}  // namespace kestrivon::testing
