#include "core/file_replace.h"

#include <fstream>
#include <system_error>

#include "core/log.h"
#include "core/long_path.h"
#include "core/path_utf8.h"

namespace kestrivon::core {

bool ReplaceFileText(const std::filesystem::path& target, std::string_view text) {
  std::filesystem::path temporary = target;
  temporary += ".tmp";

  std::error_code ignored;
  std::filesystem::create_directories(LongPath(target.parent_path()), ignored);
  {
    std::ofstream stream(LongPath(temporary), std::ios::binary | std::ios::trunc);
    if (stream.is_open()) {
      stream << text;
      stream.close();
    }
    if (stream.fail()) {
      LogFormat(LogLevel::Error, "Can't write {}", PathToUtf8(temporary));
      return false;
    }
  }
  std::error_code error;
  std::filesystem::rename(LongPath(temporary), LongPath(target), error);
  if (error) {
    LogFormat(LogLevel::Error, "Can't replace {}: {}", PathToUtf8(target), error.message());
    return false;
  }
  return true;
}

}  // namespace kestrivon::core
