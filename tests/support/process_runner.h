#pragma once

// Starting helper programs from the Windows tests: the folder they are built into (beside the
// test executable) and a run that waits for the end.

#include <windows.h>

#include <optional>
#include <string>

#include "win/host/unique_handle.h"

namespace kestrivon::testing {

// The folder of the running test executable, without a trailing backslash.
inline std::wstring TestExeFolder() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.rfind(L'\\'));
}

// Runs "`exe` `arguments`" (the arguments already quoted) to its end: its exit code, or
// nothing when it could not be started or was still running after `timeoutMs` (it is then
// ended).
inline std::optional<DWORD> RunAndWait(const std::wstring& exe, const std::wstring& arguments,
                                       DWORD timeoutMs = 60000) {
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return std::nullopt;
  }
  const win::UniqueHandle thread(process.hThread);
  const win::UniqueHandle owner(process.hProcess);
  if (WaitForSingleObject(owner.Get(), timeoutMs) != WAIT_OBJECT_0) {
    TerminateProcess(owner.Get(), 255);
    return std::nullopt;
  }
  DWORD exitCode = 0;
  if (!GetExitCodeProcess(owner.Get(), &exitCode)) return std::nullopt;
  return exitCode;
}

}  // namespace kestrivon::testing
