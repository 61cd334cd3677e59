#include "win/install/self_replace.h"

#include <windows.h>

#include "core/interrupted_install.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "core/path_text.h"
#include "win/base/process_state.h"
#include "win/install/expand_archive.h"
#include "win/install/file_ops.h"
#include "win/install/kill_point.h"
#include "win/install/launcher_start.h"
#include "win/install/protected_section.h"
#include "win/log/log_file.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {
namespace {

constexpr int kInstallBasePercent = 85;
constexpr int kInstallSpanPercent = 10;

std::wstring BackupPath(const std::wstring& exe) { return exe + L".backup"; }
// The new file's name while it is written beside the running one.
std::wstring FreshPath(const std::wstring& exe) { return exe + L".new"; }

// Puts the previous updater back under its own name, over a new copy if there is one.
void RestorePrevious(const std::wstring& longExe, const std::wstring& longBackup) {
  MoveFileExW(longBackup.c_str(), longExe.c_str(), MOVEFILE_REPLACE_EXISTING);
}

// A copy of `from` at `to` whose bytes are on the disk before the swap names it. The flush
// shares the file: a scanner that opened the fresh copy to read it must not fail the update.
bool WriteDurableCopy(const std::wstring& from, const std::wstring& to) {
  if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) return false;
  const UniqueFile file(CreateFileW(to.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file && FlushFileBuffers(file.Get());
}

// Two renames, never a copy over the running file: whenever the new file is not complete,
// the old one is still (or again) under the executable's name.
bool SwapInNewUpdater(const std::wstring& installDir, const std::wstring& longExe,
                      const std::wstring& longBackup, const std::wstring& longFresh) {
  const ProtectedSection section;
  if (!MoveFileExW(longExe.c_str(), longBackup.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    WriteLogLine(L"[ERROR] Failed to move the current updater aside: " +
                 FormatSystemError(GetLastError()));
    DeleteFileW(longFresh.c_str());
    return false;
  }
  if (!MoveFileExW(longFresh.c_str(), longExe.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    WriteLogLine(L"[ERROR] Failed to move the new updater into place: " +
                 FormatSystemError(GetLastError()));
    RestorePrevious(longExe, longBackup);
    DeleteFileW(longFresh.c_str());
    return false;
  }
  core::RemoveUpdaterSwapMarker(std::filesystem::path(installDir));
  return true;
}

bool Replace(const std::wstring& installDir, const std::wstring& package,
             UniqueHandle* instanceMutex) {
  const std::wstring exe = CurrentExePath();
  if (exe.empty()) return false;
  // Whatever the user called the running file: the package must hold one of that name.
  const std::wstring name(core::LastPathComponent(exe));
  const std::wstring unpack = installDir + L"\\temp\\updater-unpacked";
  const std::wstring newExe = unpack + L"\\" + name;
  InstallStep();

  RemovePath(unpack);
  EnsureDirectory(unpack);
  InstallStep();
  if (!ExpandArchive(package, unpack, currentUiStrings->statusInstallingUpdate, kInstallBasePercent,
                     kInstallSpanPercent, name, false) ||
      !IsRegularFile(newExe)) {
    WriteLogLine(L"[WARN] The updater package doesn't contain " + name);
    return false;
  }
  InstallStep();

  const std::wstring longExe = core::ToLongPath(exe);
  const std::wstring longBackup = core::ToLongPath(BackupPath(exe));
  const std::wstring longFresh = core::ToLongPath(FreshPath(exe));
  if (!WriteDurableCopy(core::ToLongPath(newExe), longFresh)) {
    WriteLogLine(L"[ERROR] Failed to copy the new updater: " + FormatSystemError(GetLastError()));
    DeleteFileW(longFresh.c_str());
    return false;
  }
  InstallStep();
  DeleteFileW(longBackup.c_str());  // a leftover would make the move fail
  InstallStep();
  if (!SwapInNewUpdater(installDir, longExe, longBackup, longFresh)) return false;
  InstallStep();

  // Released before the start, or the new updater would find it and end as a second
  // instance.
  if (instanceMutex != nullptr) instanceMutex->Reset();
  InstallStep();
  if (StartProcess(exe, installDir)) {
    WriteLogLine(L"[INFO] New updater started; exiting.");
    InstallStep();
    return true;
  }
  WriteLogLine(L"[ERROR] The new updater didn't start; restoring the previous one");
  {
    const ProtectedSection section;
    RestorePrevious(longExe, longBackup);
  }
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
    // Fails while the previous updater still runs from it; the next start tries again.
    if (DeleteFileW(core::ToLongPath(BackupPath(exe)).c_str())) {
      WriteLogLine(L"[INFO] Removed the previous updater's backup");
    }
    DeleteFileW(core::ToLongPath(FreshPath(exe)).c_str());  // a copy a kill left unswapped
  });
}

}  // namespace kestrivon::win
