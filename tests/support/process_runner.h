#pragma once

// The folder of the running test executable (without a trailing backslash), where helper
// programs are built.

#include <windows.h>

#include <string>

namespace kestrivon::testing {

inline std::wstring TestExeFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.rfind(L'\\'));
}

}  // namespace kestrivon::testing
