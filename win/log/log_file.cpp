#include "win/log/log_file.h"

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "core/escaped_text.h"
#include "core/log.h"
#include "core/long_path.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"

namespace kestrivon::win {
namespace {

constexpr wchar_t kLogFileName[] = L"Kestrivon_Updater.log";
constexpr uint64_t kRotationThreshold = 1048576;  // a file of exactly 1 MiB stays

// Joins without doubling the separator when `folder` is a drive root such as "D:\": a
// doubled backslash is not collapsed once the path is in "\\?\" form.
std::wstring JoinPath(const std::wstring& folder, std::wstring_view name) {
  std::wstring path = folder;
  if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
  path += name;
  return path;
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<FILE, FileCloser>;

struct LocalFreer {
  void operator()(wchar_t* buffer) const { LocalFree(buffer); }
};
using LocalBufferOwner = std::unique_ptr<wchar_t, LocalFreer>;

std::string FormatRecord(const std::wstring& line) {
  if (line.empty()) return "\n";
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return fmt::format("[{:04}-{:02}-{:02} {:02}:{:02}:{:02}] {}\n", now.wYear, now.wMonth, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, Utf8FromWide(line));
}

LogFile& ProcessLogFile() {
  // Built on first use from the install directory, which is fixed for the process; a refused
  // one gets no log of its own (see LogFolder).
  static LogFile log(LogFolder());
  return log;
}

// The line the engine sink writes for one engine log call: the level prefix followed by the
// text; nothing for a level outside Info, Warning and Error.
std::optional<std::wstring> CoreLogLine(core::LogLevel level, std::string_view text) {
  const wchar_t* prefix = nullptr;
  switch (level) {
    case core::LogLevel::Info:
      prefix = L"[INFO] ";
      break;
    case core::LogLevel::Warning:
      prefix = L"[WARN] ";
      break;
    case core::LogLevel::Error:
      prefix = L"[ERROR] ";
      break;
  }
  if (prefix == nullptr) return std::nullopt;
  // Engine lines carry versions, addresses and error texts from the network and archives.
  return prefix + WideFromUtf8(core::EscapeText(text));
}

}  // namespace

LogFile::LogFile(std::wstring folder)
    : folder_(std::move(folder)), filePath_(JoinPath(folder_, kLogFileName)) {}

void LogFile::RotateOnce() {
  if (rotationChecked_) return;
  // Set before trying: a failed move is not retried in this process.
  rotationChecked_ = true;

  std::error_code ignored;
  std::filesystem::create_directories(core::LongPath(std::filesystem::path(folder_)), ignored);

  const std::wstring file = core::ToLongPath(filePath_);
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &attributes)) return;
  const uint64_t size = (static_cast<uint64_t>(attributes.nFileSizeHigh) << 32) |
                        static_cast<uint64_t>(attributes.nFileSizeLow);
  if (size > kRotationThreshold) {
    MoveFileExW(file.c_str(), core::ToLongPath(PreviousPath()).c_str(), MOVEFILE_REPLACE_EXISTING);
  }
}

void LogFile::Write(const std::wstring& line) noexcept {
  try {
    if (folder_.empty()) return;  // no folder of its own: the records are dropped
    std::lock_guard lock(mutex_);
    RotateOnce();

    FileOwner file(_wfopen(core::ToLongPath(filePath_).c_str(), L"ab"));
    if (!file) return;  // read-only medium, locked file: the record is dropped

    const std::string record = FormatRecord(line);
    std::fwrite(record.data(), 1, record.size(), file.get());
  } catch (...) {
    OutputDebugStringW(L"Kestrivon updater logging failed\n");
  }
}

void WriteLogLine(const std::wstring& line) {
  try {
    ProcessLogFile().Write(line);
  } catch (...) {
    OutputDebugStringW(L"Kestrivon updater logging failed\n");
  }
}

void InstallCoreLogSink() {
  core::SetLogSink([](core::LogLevel level, std::string_view text) {
    try {
      if (std::optional<std::wstring> line = CoreLogLine(level, text)) WriteLogLine(*line);
    } catch (...) {
      // Nothing is reported to the engine; the record is lost.
    }
  });
}

std::wstring FormatSystemError(uint32_t code) {
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPWSTR>(&buffer),
      0, nullptr);
  const LocalBufferOwner owner(buffer);
  std::wstring text;
  if (length > 0 && buffer != nullptr) text.assign(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
  return text;
}

}  // namespace kestrivon::win
