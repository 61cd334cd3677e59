#pragma once

// Starting the launcher (and the freshly installed updater) with the updater's own arguments
// passed on unchanged, and reading those arguments.

#include <string>
#include <vector>

#include "handoff/command_line_rules.h"

namespace kestrivon::win {

inline constexpr wchar_t kLauncherExeName[] = L"KestrivonLauncher.exe";
// A running launcher has a top-level window with exactly this title.
inline constexpr wchar_t kLauncherWindowTitle[] = L"Kestrivon Launcher";

// Worker thread. Sets the launcher's environment and starts install directory +
// "\KestrivonLauncher.exe" there; on failure shows the matching error and returns false.
bool StartLauncher(const std::wstring& installDir);

// Starts `exe` (never searched for) with ForwardedArguments() in `workingDirectory` (the
// updater's own when empty), inheriting the environment. Does not wait and keeps no handle.
bool StartProcess(const std::wstring& exe, const std::wstring& workingDirectory);

// The process's arguments without the program name, quoted and joined; empty when there are
// none or the command line cannot be split.
std::wstring ForwardedArguments();

// The process's arguments without the program name, as UTF-8 (an unconvertible one becomes
// empty); empty when the command line cannot be split.
std::vector<std::string> CommandLineArgumentsUtf8();

}  // namespace kestrivon::win
