#include "win/base/process_state.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <string_view>
#include <vector>

#include "win/base/text_encoding.h"

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

std::wstring KnownFolder(const KNOWNFOLDERID& id) {
  PWSTR folder = nullptr;
  std::wstring result;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &folder)) && folder != nullptr) {
    result = folder;
    if (!result.empty() && result.back() == L'\\') result.pop_back();
  }
  CoTaskMemFree(folder);
  return result;
}

std::wstring DefaultInstallDir() {
  const std::wstring folder = KnownFolder(FOLDERID_LocalAppData);
  // Never a folder on whatever drive is current: without its own folder there is no default.
  return folder.empty() ? std::wstring() : folder + kInstallFolderName;
}

std::wstring ComputeInstallDir() {
  std::wstring fromRegistry = ReadInstallPathFromRegistry();
  if (!fromRegistry.empty()) return fromRegistry;
  return DefaultInstallDir();
}

// The system's own folders, which may hold the install folder but never be it.
std::vector<std::string> SystemFolders() {
  static const KNOWNFOLDERID* const kFolders[] = {
      &FOLDERID_Windows,         &FOLDERID_System,       &FOLDERID_ProgramFiles,
      &FOLDERID_ProgramFilesX86, &FOLDERID_ProgramData,  &FOLDERID_UserProfiles,
      &FOLDERID_Profile,         &FOLDERID_LocalAppData, &FOLDERID_RoamingAppData,
      &FOLDERID_Desktop,         &FOLDERID_Documents,    &FOLDERID_Downloads};
  std::vector<std::string> folders;
  for (const KNOWNFOLDERID* id : kFolders) {
    if (const std::wstring folder = KnownFolder(*id); !folder.empty()) {
      folders.push_back(Utf8FromWide(folder));
    }
  }
  return folders;
}

}  // namespace

std::wstring ResolveInstallDir() {
  // Fixed for the process at the first call; a registry change during the run has no effect.
  static const std::wstring installDir = ComputeInstallDir();
  return installDir;
}

core::InstallFolderProblem InstallDirProblem() {
  static const core::InstallFolderProblem problem =
      core::CheckInstallFolder(Utf8FromWide(ResolveInstallDir()), SystemFolders());
  return problem;
}

std::wstring LogFolder() {
  // A refused install folder gets nothing written into it, not even the log.
  const std::wstring base = InstallDirProblem() == core::InstallFolderProblem::None
                                ? ResolveInstallDir()
                                : DefaultInstallDir();
  return base.empty() ? std::wstring() : base + L"\\logs";
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
  return text;  // judged by InstallDirProblem
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
