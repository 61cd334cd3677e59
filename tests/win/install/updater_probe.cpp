// A stand-in updater for the self-replacement tests, run from an install directory (taken from
// the registry, as the updater does) under any name:
//   apply <package>  replaces itself from the package while holding the instance mutex. Exit
//                    1: the file kept, the mutex held again; 2: otherwise; 3: another instance
//                    holds the mutex. A new updater it starts (KESTRIVON_PROBE_REPLACED set)
//                    exits at once.
//   long-exe-path    exit 0 when CurrentExePath(), the file it would replace, is the whole
//                    name (started from a folder deeper than two buffer doublings).

#include <windows.h>

#include <string>

#include "win/base/process_state.h"
#include "win/install/self_replace.h"

int wmain(int argc, wchar_t** argv) {
  using namespace kestrivon::win;
  const std::wstring mode = argc < 2 ? L"" : argv[1];
  if (GetEnvironmentVariableW(L"KESTRIVON_PROBE_REPLACED", nullptr, 0) != 0) return 0;
  if (mode == L"long-exe-path") {
    std::wstring whole(32768, L'\0');
    whole.resize(GetModuleFileNameW(nullptr, whole.data(), static_cast<DWORD>(whole.size())));
    return whole.size() > 2 * MAX_PATH && CurrentExePath() == whole ? 0 : 1;
  }
  if (mode == L"apply" && argc == 3) {
    UniqueHandle mutex;
    if (!AcquireInstanceMutex(mutex)) return 3;
    SetEnvironmentVariableW(L"KESTRIVON_PROBE_REPLACED", L"1");
    return !ApplyUpdaterUpdate(ResolveInstallDir(), argv[2], &mutex) && mutex ? 1 : 2;
  }
  return 64;
}
