// KestrivonLauncher.exe, the sample launcher. Each start appends one line to
// "launcher-run.jsonl" in its working directory, a JSON object:
//   {"arguments": [...], "commandLine": "...", "workingDirectory": "...",
//    "environment": {"SKIKO_RENDER_API": ..., "KESTRIVON_LAUNCHER_MODE": ...,
//                    "KESTRIVON_HOME": ...}, "pid": N}
// (texts in UTF-8, arguments as the standard splitting gives them, a missing variable as
// null), so a test counts starts by counting lines.
// With KESTRIVON_SAMPLE_WINDOW_MS=N in its environment it then shows a window titled
// "Kestrivon Launcher" for N milliseconds, as a running launcher would; otherwise it exits at
// once. Exit code 0, or 1 when the record could not be written.

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "win/base/text_encoding.h"
#include "win/base/unique_handle.h"

namespace {

using kestrivon::win::UniqueFile;
using kestrivon::win::UniqueLocal;
using kestrivon::win::Utf8FromWide;

constexpr wchar_t kRecordFile[] = L"launcher-run.jsonl";
constexpr wchar_t kWindowTimeVariable[] = L"KESTRIVON_SAMPLE_WINDOW_MS";
constexpr wchar_t kWindowTitle[] = L"Kestrivon Launcher";
constexpr wchar_t kWindowClass[] = L"Kestrivon_Sample_Launcher";
constexpr const wchar_t* kRecordedVariables[] = {L"SKIKO_RENDER_API", L"KESTRIVON_LAUNCHER_MODE",
                                                 L"KESTRIVON_HOME"};

std::optional<std::wstring> Variable(const wchar_t* name) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return std::nullopt;
  std::wstring value(size, L'\0');
  value.resize(GetEnvironmentVariableW(name, value.data(), size));
  return value;
}

std::wstring WorkingDirectory() {
  std::wstring directory(GetCurrentDirectoryW(0, nullptr), L'\0');
  directory.resize(GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data()));
  return directory;
}

std::string RunRecord() {
  nlohmann::json arguments = nlohmann::json::array();
  int count = 0;
  const UniqueLocal argv(CommandLineToArgvW(GetCommandLineW(), &count));
  for (int i = 1; argv && i < count; ++i) {
    arguments.push_back(Utf8FromWide(static_cast<wchar_t**>(argv.Get())[i]));
  }
  nlohmann::json environment = nlohmann::json::object();
  for (const wchar_t* name : kRecordedVariables) {
    const auto value = Variable(name);
    environment[Utf8FromWide(name)] = value ? nlohmann::json(Utf8FromWide(*value)) : nullptr;
  }
  const nlohmann::json record = {
      {"arguments", arguments},
      {"commandLine", Utf8FromWide(GetCommandLineW())},
      {"workingDirectory", Utf8FromWide(WorkingDirectory())},
      {"environment", environment},
      {"pid", GetCurrentProcessId()},
  };
  return record.dump() + "\n";
}

// One append of the whole line, so that records of concurrent starts never interleave.
bool AppendRecord(const std::string& line) {
  const UniqueFile file(CreateFileW(kRecordFile, FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file &&
         WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) &&
         written == line.size();
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      // Its title inside too: without a window manager (the demo's screen) there is no frame.
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(window, &paint);
      RECT client;
      GetClientRect(window, &client);
      SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
      DrawTextW(dc, kWindowTitle, -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

void ShowLauncherWindow(HINSTANCE instance, UINT milliseconds) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) return;
  const HWND window =
      CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 480, 320, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return;
  ShowWindow(window, SW_SHOWNORMAL);
  SetTimer(window, 1, milliseconds, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  const bool recorded = AppendRecord(RunRecord());
  if (const auto time = Variable(kWindowTimeVariable)) {
    const unsigned long milliseconds = std::wcstoul(time->c_str(), nullptr, 10);
    if (milliseconds > 0) ShowLauncherWindow(instance, static_cast<UINT>(milliseconds));
  }
  return recorded ? 0 : 1;
}
