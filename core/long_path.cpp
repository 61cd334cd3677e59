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

}  // namespace kestrivon::core
