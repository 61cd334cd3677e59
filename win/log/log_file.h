#pragma once

// The updater's log file under the install directory and the bridge from the engine's log.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/update_records.h"

namespace kestrivon::win {

// Appends one time-stamped record. The caller puts "[INFO] ", "[WARN] " or "[ERROR] " in
// front. Never throws; callable from any thread.
void WriteLogLine(const std::wstring& line);

// Hands the engine a sink that writes its lines through WriteLogLine.
void InstallCoreLogSink();

// The system's message text for a Win32 error code, without trailing line ends.
std::wstring FormatSystemError(uint32_t code);

// One log file "Kestrivon_Updater.log" in `folder`, with its own write lock and its own
// once-only rotation. WriteLogLine uses the one in the install directory's "logs" folder;
// tests build their own in a folder of their choice. Any thread may call Write.
class LogFile {
 public:
  explicit LogFile(std::wstring folder);

  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // Appends one record; a record that cannot be written is dropped silently.
  void Write(const std::wstring& line) noexcept;

  const std::wstring& Folder() const { return folder_; }
  const std::wstring& FilePath() const { return filePath_; }
  // The previous generation: the file's path followed by ".1".
  std::wstring PreviousPath() const { return filePath_ + L".1"; }

 private:
  void RotateOnce();

  const std::wstring folder_;
  const std::wstring filePath_;
  std::mutex mutex_;
  bool rotationChecked_ = false;  // guarded by mutex_
};

}  // namespace kestrivon::win
