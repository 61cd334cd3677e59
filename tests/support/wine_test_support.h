#pragma once

// Helpers shared by the Windows tests: scoped registry values, file contents, own processes.

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

namespace kestrivon::testing {

inline constexpr wchar_t kInstallPathKey[] = L"Software\\Kestrivon";
inline constexpr wchar_t kInstallPathName[] = L"InstallPath";

// A registry value set for the life of the object; what was there before is put back after.
// All Wine test processes share one registry: callers run under the CTest resource lock.
class ScopedRegistryValue {
 public:
  ScopedRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name, DWORD type,
                      const void* data, DWORD bytes)
      : root_(root), key_(key), name_(name) {
    hadPrevious_ = RegGetValueW(root, key, name, RRF_RT_ANY | RRF_NOEXPAND, &previousType_,
                                previous_, &previousBytes_) == ERROR_SUCCESS;
    ok_ = RegSetKeyValueW(root, key, name, type, data, bytes) == ERROR_SUCCESS;
  }
  // A REG_SZ value holding `text` and its terminating NUL.
  ScopedRegistryValue(HKEY root, const wchar_t* key, const wchar_t* name, std::wstring_view text)
      : ScopedRegistryValue(root, key, name, REG_SZ, std::wstring(text).c_str(),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) {}
  ~ScopedRegistryValue() {
    if (hadPrevious_) {
      RegSetKeyValueW(root_, key_, name_, previousType_, previous_, previousBytes_);
    } else {
      RegDeleteKeyValueW(root_, key_, name_);
    }
  }
  ScopedRegistryValue(const ScopedRegistryValue&) = delete;
  ScopedRegistryValue& operator=(const ScopedRegistryValue&) = delete;

  bool Ok() const { return ok_; }

 private:
  HKEY root_;
  const wchar_t* key_;
  const wchar_t* name_;
  BYTE previous_[2048] = {};
  DWORD previousType_ = REG_NONE;
  DWORD previousBytes_ = sizeof(previous_);
  bool hadPrevious_ = false;
  bool ok_ = false;
};

// HKCU\Software\Kestrivon "InstallPath", the value the updater reads its install directory from.
struct ScopedInstallPath : ScopedRegistryValue {
  explicit ScopedInstallPath(std::wstring_view text)
      : ScopedRegistryValue(HKEY_CURRENT_USER, kInstallPathKey, kInstallPathName, text) {}
};

// Whole file as bytes; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool WriteFileBytes(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// CTest runs "...OwnProcess" suites alone with KESTRIVON_OWN_PROCESS set; else they skip.
inline bool RunsInOwnProcess() {
  const char* flag = std::getenv("KESTRIVON_OWN_PROCESS");
  return flag != nullptr && flag[0] == '1';
}

}  // namespace kestrivon::testing
