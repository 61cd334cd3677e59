#include "win/base/process_state.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <string_view>

#include "core/path_text.h"

namespace kestrivon::win {

std::atomic<bool> cancelRequested{false};

namespace {

constexpr wchar_t kRegistryKey[] = L"Software\\Kestrivon";
constexpr wchar_t kRegistryValue[] = L"InstallPath";
constexpr wchar_t kInstallFolderName[] = L"\\Kestrivon";
constexpr wchar_t kInstanceMutexName[] = L"Local\\Kestrivon_Sync_Mutex";

// Module names are limited to 32,767 characters; a buffer this large that still truncates
// means something else is wrong.
constexpr size_t kMaxExePathBuffer = 65536;

std::wstring LocalAppDataFolder() {
  PWSTR folder = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)) &&
      folder != nullptr) {
    result = folder;
    if (!result.empty() && result.back() == L'\\') result.pop_back();
  }
  CoTaskMemFree(folder);
  return result;
}

std::wstring ComputeInstallDir() {
  std::wstring fromRegistry = ReadInstallPathFromRegistry();
  if (!fromRegistry.empty()) return fromRegistry;
  return LocalAppDataFolder() + kInstallFolderName;
}

}  // namespace

std::wstring ResolveInstallDir() {
  // Fixed for the process at the first call; a registry change during the run has no effect.
  static const std::wstring installDir = ComputeInstallDir();
  return installDir;
}

std::wstring ReadInstallPathFromRegistry() {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue, RRF_RT_REG_SZ, nullptr, nullptr,
                   &size) != ERROR_SUCCESS ||
      size < 2) {
    return {};
  }

  std::wstring text(size / 2, L'\0');
  // The buffer's own byte count: an odd size must not let the read run one byte past it.
  DWORD bufferBytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, kRegistryKey, kRegistryValue, RRF_RT_REG_SZ, nullptr,
                   text.data(), &bufferBytes) != ERROR_SUCCESS) {
    return {};
  }
  if (const size_t nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);

  while (text.size() > 3 && core::IsPathSeparator(text.back())) text.pop_back();

  const bool drivePath = text.size() >= 3 && text[1] == L':' && text[2] == L'\\';
  const bool uncPath = text.size() >= 2 && text[0] == L'\\' && text[1] == L'\\';
  if (!drivePath && !uncPath) return {};
  return text;
}

std::wstring CurrentExePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= kMaxExePathBuffer) return {};
    buffer.resize(buffer.size() * 2);
  }
}

bool AcquireInstanceMutex(UniqueHandle& mutex) {
  mutex.Reset(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
  if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
    mutex.Reset();
    return false;
  }
  return true;
}

}  // namespace kestrivon::win
