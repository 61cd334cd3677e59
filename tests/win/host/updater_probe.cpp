// A stand-in updater for the self-replacement tests, run from an install directory (taken from
// the registry, as the updater does) under any name:
//   apply <package>  replaces itself from the package while holding the instance mutex. Exit
//                    0: the new updater started, the mutex released; 1: the file kept, the
//                    mutex held again; 2: neither; 3: another instance holds the mutex.
//   start            removes a stale backup, as every start of the updater does.
//   long-exe-path    exit 0 when CurrentExePath(), the file it would replace, is the whole
//                    name (started from a folder deeper than two buffer doublings).
// The updater it starts (KESTRIVON_PROBE_REPLACED set) writes "started.txt" into the install
// directory instead: "mutex 1" when it got the instance mutex, else "mutex 0".

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "win/host/process_state.h"
#include "win/host/self_replace.h"

int wmain(int argc, wchar_t** argv) {
  using namespace kestrivon::win;
  const std::wstring mode = argc < 2 ? L"" : argv[1];
  UniqueHandle mutex;
  if (GetEnvironmentVariableW(L"KESTRIVON_PROBE_REPLACED", nullptr, 0) != 0) {
    const bool gotMutex = AcquireInstanceMutex(mutex) && mutex;
    // Written aside and renamed, so that the test never reads half of it.
    const std::wstring file = ResolveInstallDir() + L"\\started.txt";
    std::ofstream(std::filesystem::path(file + L".part"), std::ios::binary)
        << "mutex " << (gotMutex ? 1 : 0) << "\n";
    MoveFileExW((file + L".part").c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING);
    return 0;
  }
  if (mode == L"long-exe-path") {
    std::wstring whole(32768, L'\0');
    whole.resize(GetModuleFileNameW(nullptr, whole.data(), static_cast<DWORD>(whole.size())));
    return whole.size() > 2 * MAX_PATH && CurrentExePath() == whole ? 0 : 1;
  }
  if (mode == L"start") {
    RemoveStaleUpdaterBackup();
    return 0;
  }
  if (mode == L"apply" && argc == 3) {
    if (!AcquireInstanceMutex(mutex)) return 3;
    SetEnvironmentVariableW(L"KESTRIVON_PROBE_REPLACED", L"1");
    const bool replaced = ApplyUpdaterUpdate(ResolveInstallDir(), argv[2], &mutex);
    if (replaced && !mutex) return 0;
    if (!replaced && mutex) return 1;
    return 2;
  }
  return 64;
}
