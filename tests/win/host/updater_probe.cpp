// A stand-in updater for the self-replacement tests, copied into an install directory (taken
// from the registry, as the updater does) under any name:
//   probe apply <package>  holds the instance mutex and replaces itself from the package.
//                          Exit 0: the new updater was started and the mutex released;
//                          1: the file was kept and the mutex is held again; 2: neither;
//                          3: another instance holds the mutex.
//   probe start            removes a stale backup, as every start of the updater does.
//   probe long-exe-path    started from a folder deeper than two buffer doublings: exit 0
//                          when CurrentExePath(), the file it would replace, is the whole name.
// The updater it starts finds KESTRIVON_PROBE_REPLACED in its environment; instead of
// replacing itself again it writes "started.txt" into the install directory ("mutex 1" when
// it got the instance mutex, else "mutex 0") and exits.

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "win/host/process_state.h"
#include "win/host/self_replace.h"

namespace {

using namespace kestrivon::win;

constexpr wchar_t kReplacedVariable[] = L"KESTRIVON_PROBE_REPLACED";

int ReportStart() {
  UniqueHandle mutex;
  const bool gotMutex = AcquireInstanceMutex(mutex) && mutex;
  // Written aside and renamed, so that the test never reads half of it.
  const std::wstring file = ResolveInstallDir() + L"\\started.txt";
  std::ofstream(std::filesystem::path(file + L".part"), std::ios::binary)
      << "mutex " << (gotMutex ? 1 : 0) << "\n";
  MoveFileExW((file + L".part").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc < 2 ? L"" : argv[1];
  if (GetEnvironmentVariableW(kReplacedVariable, nullptr, 0) != 0) return ReportStart();
  if (mode == L"long-exe-path") {
    std::wstring whole(32768, L'\0');
    whole.resize(GetModuleFileNameW(nullptr, whole.data(), static_cast<DWORD>(whole.size())));
    if (whole.size() > 2 * MAX_PATH && CurrentExePath() == whole) return 0;
    // What was seen, so that a failure in CI can be told apart from a Wine start problem.
    std::fwprintf(stderr, L"module name (%zu chars): %ls\nCurrentExePath: %ls\n", whole.size(),
                  whole.c_str(), CurrentExePath().c_str());
    return 1;
  }
  if (mode == L"start") {
    RemoveStaleUpdaterBackup();
    return 0;
  }
  if (mode == L"apply" && argc == 3) {
    UniqueHandle mutex;
    if (!AcquireInstanceMutex(mutex)) return 3;
    SetEnvironmentVariableW(kReplacedVariable, L"1");
    const bool replaced = ApplyUpdaterUpdate(ResolveInstallDir(), argv[2], &mutex);
    if (replaced && !mutex) return 0;
    if (!replaced && mutex) return 1;
    return 2;
  }
  return 64;
}
