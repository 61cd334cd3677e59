#pragma once

// The running launcher, recognised by its window's title and by the program behind the
// window: a window of another program with the same title is not the launcher.

#include <string>

namespace kestrivon::win {

// True when a top-level window titled "Kestrivon Launcher" belongs to a process whose image
// is `installDir`\KestrivonLauncher.exe. The first other window of that title is logged, once
// per process.
bool IsLauncherRunning(const std::wstring& installDir) noexcept;

// Whether both paths name one existing file (same volume, same file index), whatever their
// spelling: letter case, short names, the long-path form.
bool IsSameFile(const std::wstring& first, const std::wstring& second);

}  // namespace kestrivon::win
