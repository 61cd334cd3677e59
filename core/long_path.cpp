#include "core/long_path.h"

#include <algorithm>

#include "core/ascii.h"
#include "core/path_text.h"

namespace kestrivon::core {
namespace {

std::wstring WithBackslashes(std::wstring_view text) {
  std::wstring out(text);
  std::replace(out.begin(), out.end(), L'/', L'\\');
  return out;
}

// The plain form of a long path ("\\?\C:\x" is "C:\x"); any other path as it is.
std::filesystem::path PlainPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring& text = path.native();
  if (text.starts_with(LR"(\\?\UNC\)")) return LR"(\\)" + text.substr(8);
  if (text.starts_with(LR"(\\?\)")) return text.substr(4);
#endif
  return path;
}

}  // namespace

std::wstring ToLongPath(std::wstring_view path) {
  if (path.starts_with(LR"(\\?\)")) return std::wstring(path);

  // Two leading separators of either kind name a server (UNC); "\\?\UNC\" must be
  // followed by backslashes only, or Windows cannot open the result.
  if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
    return LR"(\\?\UNC\)" + WithBackslashes(path.substr(2));
  }

  const bool driveAbsolute =
      path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == L':' && IsPathSeparator(path[2]);
  if (!driveAbsolute) return std::wstring(path);

  return LR"(\\?\)" + WithBackslashes(path);
}

std::filesystem::path LongPath(const std::filesystem::path& path) {
#ifdef _WIN32
  return std::filesystem::path(ToLongPath(path.native()));
#else
  return path;
#endif
}

std::optional<uint64_t> AvailableBytes(const std::filesystem::path& folder) {
  // The standard library on Windows canonicalises the path first, which fails on the
  // long-path form: the plain path is asked, and while that fails (a path beyond MAX_PATH),
  // its nearest parent that can be, on the same volume but for a rare mount point.
  std::error_code error;
  for (std::filesystem::path path = PlainPath(folder);; path = path.parent_path()) {
    const std::filesystem::space_info space = std::filesystem::space(path, error);
    if (!error) return space.available;
    if (!path.has_relative_path()) return std::nullopt;
  }
}

std::ofstream OpenFreshFile(const std::filesystem::path& path) {
  const std::filesystem::path target = LongPath(path);
  // Appending to a file that is new writes it from its start, and opens it without truncating.
  std::ofstream out(target, std::ios::binary | std::ios::app);
  std::error_code error;
  if (out.is_open() && (std::filesystem::file_size(target, error) != 0 || error)) {
    out.close();
    out.open(target, std::ios::binary | std::ios::trunc);  // something was there: emptied
  }
  return out;
}

}  // namespace kestrivon::core
