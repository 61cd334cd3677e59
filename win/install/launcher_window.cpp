#include "win/install/launcher_window.h"

#include <windows.h>

#include <atomic>
#include <optional>

#include "core/escaped_text.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "win/base/text_encoding.h"
#include "win/base/unique_handle.h"
#include "win/install/launcher_start.h"
#include "win/log/log_file.h"

namespace kestrivon::win {
namespace {

std::atomic<bool> strangerLogged{false};

std::optional<BY_HANDLE_FILE_INFORMATION> FileIdentity(const std::wstring& path) {
  const UniqueFile file(CreateFileW(core::ToLongPath(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information{};
  if (!file || !GetFileInformationByHandle(file.Get(), &information)) return std::nullopt;
  return information;
}

// The image of the process that owns `window`; empty when it cannot be read.
std::wstring WindowProcessImage(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};
  std::wstring image(32768, L'\0');
  DWORD size = static_cast<DWORD>(image.size());
  if (!QueryFullProcessImageNameW(process.Get(), 0, image.data(), &size)) return {};
  image.resize(size);
  return image;
}

}  // namespace

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
  const auto a = FileIdentity(first);
  const auto b = FileIdentity(second);
  return a && b && a->dwVolumeSerialNumber == b->dwVolumeSerialNumber &&
         a->nFileIndexHigh == b->nFileIndexHigh && a->nFileIndexLow == b->nFileIndexLow;
}

bool IsLauncherRunning(const std::wstring& installDir) noexcept {
  return core::CallNoThrow(
      "Launcher window check",
      [&] {
        const std::wstring launcher = installDir + L"\\" + kLauncherExeName;
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, nullptr, kLauncherWindowTitle)) !=
               nullptr) {
          const std::wstring image = WindowProcessImage(window);
          if (!image.empty() && IsSameFile(image, launcher)) return true;
          if (!strangerLogged.exchange(true)) {
            WriteLogLine(
                L"[WARN] Ignoring a window titled \"Kestrivon Launcher\" of another "
                L"program: " +
                WideFromUtf8(core::EscapeText(Utf8FromWide(image))));
          }
        }
        return false;
      },
      false);
}

}  // namespace kestrivon::win
