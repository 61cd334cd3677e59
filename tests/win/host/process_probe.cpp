// A second process for the process-state tests:
//   kestrivon_win_probe mutex          exit 0 when it got the instance mutex, 1 when another
//                                      holder exists, 2 when creation failed;
//   kestrivon_win_probe long-exe-path  started from a folder deeper than two buffer doublings:
//                                      exit 0 when CurrentExePath() is the whole name.

#include <windows.h>

#include <cstdio>
#include <string>

#include "win/host/process_state.h"

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc < 2 ? L"" : argv[1];
  if (mode == L"long-exe-path") {
    std::wstring whole(32768, L'\0');
    whole.resize(GetModuleFileNameW(nullptr, whole.data(), static_cast<DWORD>(whole.size())));
    const std::wstring found = kestrivon::win::CurrentExePath();
    if (whole.size() > 2 * MAX_PATH && found == whole) return 0;
    // Say what was seen, so that a failure in CI can be told apart from a Wine start problem.
    std::fwprintf(stderr, L"module name (%zu chars): %ls\nCurrentExePath (%zu chars): %ls\n",
                  whole.size(), whole.c_str(), found.size(), found.c_str());
    return whole.size() <= 2 * MAX_PATH ? 3 : 1;  // 3: the folder is not deep enough to tell
  }
  if (mode == L"mutex") {
    kestrivon::win::UniqueHandle mutex;
    if (!kestrivon::win::AcquireInstanceMutex(mutex)) return 1;
    if (!mutex) return 2;
    return 0;
  }
  return 64;
}
