#include "win/install/launcher_start.h"

#include <windows.h>

#include <shellapi.h>

#include <optional>
#include <string_view>
#include <utility>

#include "core/no_throw.h"
#include "win/base/text_encoding.h"
#include "win/base/unique_handle.h"
#include "win/install/file_ops.h"
#include "win/log/log_file.h"
#include "win/ui/ui_state.h"
#include "win/ui/ui_strings.h"

namespace kestrivon::win {

namespace {

// What the launcher and its Java runtime expect, set in table order.
constexpr std::pair<const wchar_t*, const wchar_t*> kFixedLauncherEnvironment[] = {
    {L"SKIKO_RENDER_API", L"OPENGL"},
    {L"KESTRIVON_LAUNCHER_MODE", L"normal"},
};
constexpr wchar_t kHomeVariable[] = L"KESTRIVON_HOME";

// The process's arguments after the program name; nothing when the command line cannot be
// split.
std::optional<std::vector<std::wstring>> ProcessArguments() {
  int count = 0;
  const UniqueLocal owner(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!owner) return std::nullopt;
  const auto* const argv = static_cast<const wchar_t* const*>(owner.Get());
  std::vector<std::wstring> arguments;
  for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

}  // namespace

bool StartLauncher(const std::wstring& installDir) {
  return core::CallNoThrow(
      "Launcher start",
      [&] {
        const std::wstring exe = installDir + L"\\" + kLauncherExeName;
        if (!IsRegularFile(exe)) {
          ShowError(currentUiStrings->errorLauncherNotFound);
          return false;
        }
        for (const auto& [name, value] : kFixedLauncherEnvironment) {
          SetEnvironmentVariableW(name, value);
        }
        SetEnvironmentVariableW(kHomeVariable, installDir.c_str());
        SetStatus(currentUiStrings->statusStartingLauncher, 100);
        if (StartProcess(exe, installDir)) return true;
        ShowError(currentUiStrings->errorLauncherStartFailed);
        return false;
      },
      false);
}

bool StartProcess(const std::wstring& exe, const std::wstring& workingDirectory) {
  return core::CallNoThrow(
      "Process start",
      [&] {
        std::wstring commandLine = QuoteArgument(exe);
        if (const std::wstring arguments = ForwardedArguments(); !arguments.empty()) {
          commandLine += L' ';
          commandLine += arguments;
        }
        WriteLogLine(L"[INFO] Starting " + commandLine);

        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION created{};
        // CreateProcessW may write into the command line, so it gets its own copy.
        std::wstring writable = commandLine;
        if (!CreateProcessW(exe.c_str(), writable.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                            &created)) {
          const DWORD error = GetLastError();
          WriteLogLine(L"[ERROR] CreateProcessW failed: " + FormatSystemError(error));
          return false;
        }
        UniqueHandle thread(created.hThread);
        UniqueHandle process(created.hProcess);
        WriteLogLine(L"[INFO] Started, PID " + std::to_wstring(created.dwProcessId));
        thread.Reset();
        process.Reset();
        return true;
      },
      false);
}

std::wstring ForwardedArguments() {
  const auto arguments = ProcessArguments();
  return arguments ? JoinQuotedArguments(*arguments) : std::wstring();
}

std::vector<std::string> CommandLineArgumentsUtf8() {
  std::vector<std::string> utf8;
  if (const auto arguments = ProcessArguments()) {
    for (const std::wstring& argument : *arguments) utf8.push_back(Utf8FromWide(argument));
  }
  return utf8;
}

}  // namespace kestrivon::win
