#pragma once

// Helpers shared by the Windows tests: scratch folders, the registry value the updater reads,
// file contents, and the guard of tests that need a process of their own.

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrivon::win::testing {

// A fresh folder under the temporary folder, removed with its contents at the end.
class TempFolder {
 public:
  explicit TempFolder(std::wstring_view tag);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::wstring& Path() const { return path_; }
  std::wstring Join(std::wstring_view name) const { return path_ + L"\\" + std::wstring(name); }

 private:
  std::wstring path_;
};

// HKCU\Software\Kestrivon "InstallPath", set for the life of the object and deleted after.
// All Wine test processes share one registry: callers run under the CTest resource lock.
class ScopedInstallPathValue {
 public:
  // A REG_SZ value holding `text` and its terminating NUL.
  explicit ScopedInstallPathValue(std::wstring_view text);
  // A value of any type with exactly these bytes.
  ScopedInstallPathValue(DWORD type, const void* data, DWORD bytes);
  ~ScopedInstallPathValue();
  ScopedInstallPathValue(const ScopedInstallPathValue&) = delete;
  ScopedInstallPathValue& operator=(const ScopedInstallPathValue&) = delete;

  bool Ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Deletes the value if a crashed earlier run left it behind.
void DeleteInstallPathValue();

// Whole file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool WriteFileBytes(const std::wstring& path, std::string_view bytes);
bool FileExists(const std::wstring& path);
uint64_t FileSize(const std::wstring& path);

// The folder of the running test executable.
std::wstring ExecutableFolder();

// Suites named "...OwnProcess" test once-per-process state; CTest runs each of them alone with
// KESTRIVON_OWN_PROCESS set. They skip themselves in an ordinary full run.
bool RunsInOwnProcess();

}  // namespace kestrivon::win::testing
