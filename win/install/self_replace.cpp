#include "win/install/self_replace.h"

#include <windows.h>

#include "core/long_path.h"
#include "core/no_throw.h"
#include "core/path_text.h"
#include "win/base/process_state.h"
#include "win/install/expand_archive.h"
#include "win/install/file_ops.h"
#include "win/install/launcher_start.h"
#include "win/log/log_file.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

constexpr int kInstallBasePercent = 85;
constexpr int kInstallSpanPercent = 10;

std::wstring BackupPath(const std::wstring& exe) { return exe + L".backup"; }

// Puts the previous updater back under its own name, over a new copy if there is one.
void RestorePrevious(const std::wstring& longExe, const std::wstring& longBackup) {
  MoveFileExW(longBackup.c_str(), longExe.c_str(), MOVEFILE_REPLACE_EXISTING);
}

bool Replace(const std::wstring& installDir, const std::wstring& package,
             UniqueHandle* instanceMutex) {
  const std::wstring exe = CurrentExePath();
  if (exe.empty()) return false;
  // Whatever the user called the running file: the package must hold one of that name.
  const std::wstring name(core::LastPathComponent(exe));
  const std::wstring unpack = installDir + L"\\temp\\updater-unpacked";
  const std::wstring newExe = unpack + L"\\" + name;

  RemovePath(unpack);
  EnsureDirectory(unpack);
  if (!ExpandArchive(package, unpack, currentUiStrings->statusInstallingUpdate, kInstallBasePercent,
                     kInstallSpanPercent, name, false) ||
      !IsRegularFile(newExe)) {
    WriteLogLine(L"[WARN] The updater package doesn't contain " + name);
    return false;
  }

  const std::wstring longExe = core::ToLongPath(exe);
  const std::wstring longBackup = core::ToLongPath(BackupPath(exe));
  DeleteFileW(longBackup.c_str());  // a leftover would make the move fail
  if (!MoveFileExW(longExe.c_str(), longBackup.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    WriteLogLine(L"[ERROR] Failed to move the current updater aside: " +
                 FormatSystemError(GetLastError()));
    return false;
  }
  if (!CopyFileW(core::ToLongPath(newExe).c_str(), longExe.c_str(), FALSE)) {
    WriteLogLine(L"[ERROR] Failed to copy the new updater: " + FormatSystemError(GetLastError()));
    RestorePrevious(longExe, longBackup);
    return false;
  }

  // Released before the start, or the new updater would find it and end as a second
  // instance.
  if (instanceMutex != nullptr) instanceMutex->Reset();
  if (StartProcess(exe, installDir)) {
    WriteLogLine(L"[INFO] New updater started; exiting.");
    return true;
  }
  WriteLogLine(L"[ERROR] The new updater didn't start; restoring the previous one");
  RestorePrevious(longExe, longBackup);
  if (instanceMutex != nullptr) AcquireInstanceMutex(*instanceMutex);
  return false;
}

}  // namespace

bool ApplyUpdaterUpdate(const std::wstring& installDir, const std::wstring& package,
                        UniqueHandle* instanceMutex) noexcept {
  return core::CallNoThrow(
      "Updater replacement", [&] { return Replace(installDir, package, instanceMutex); }, false);
}

void RemoveStaleUpdaterBackup() noexcept {
  core::CallNoThrow("Stale updater backup removal", [] {
    const std::wstring exe = CurrentExePath();
    if (exe.empty()) return;
    DeleteFileW(core::ToLongPath(BackupPath(exe)).c_str());  // normally there is none
  });
}

}  // namespace kestrivon::win
