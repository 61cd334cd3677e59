#include "core/serial_record.h"

#include <fstream>
#include <string>
#include <system_error>

#include "core/file_replace.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/path_utf8.h"

namespace kestrivon::core {
namespace {

constexpr size_t kMaxDigits = 19;  // every such number fits in 64 bits

}  // namespace

std::filesystem::path SerialFilePath(const std::filesystem::path& root) {
  return root / "config" / "manifest-serial";
}

std::optional<uint64_t> ParseSerialText(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.ends_with('\r')) text.remove_suffix(1);
  if (text.empty() || text.size() > kMaxDigits) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

uint64_t ReadHighestSerial(const std::filesystem::path& root) {
  std::ifstream stream(LongPath(SerialFilePath(root)), std::ios::binary);
  if (!stream.is_open()) return 0;
  char buffer[32] = {};
  stream.read(buffer, sizeof buffer);
  const auto serial =
      ParseSerialText(std::string_view(buffer, static_cast<size_t>(stream.gcount())));
  if (!serial) {
    LogFormat(LogLevel::Warning, "{} is damaged; no manifest serial is remembered",
              PathToUtf8(SerialFilePath(root)));
    return 0;
  }
  return *serial;
}

bool WriteHighestSerial(const std::filesystem::path& root, uint64_t serial) {
  return ReplaceFileText(SerialFilePath(root), std::to_string(serial) + '\n');
}

}  // namespace kestrivon::core
