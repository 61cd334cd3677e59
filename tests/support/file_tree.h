#pragma once

// Whole folders as values, and a handle that pins a file or folder as a running program does.

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>
#include <system_error>

#include "tests/support/wine_test_support.h"
#include "win/base/unique_handle.h"

namespace kestrivon::testing {

// Relative path ('/'-separated) to content; folders end in '/' and hold "".
using FileTree = std::map<std::string, std::string>;

inline FileTree ReadTree(const std::filesystem::path& root) {
  FileTree tree;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string name = it->path().lexically_relative(root).generic_string();
    const bool folder = it->is_directory();
    tree[folder ? name + "/" : name] = folder ? "" : ReadFileBytes(it->path());
  }
  return tree;
}

inline void WriteTree(const std::filesystem::path& root, const FileTree& tree) {
  for (const auto& [name, content] : tree) {
    const std::filesystem::path path = root / name;
    std::filesystem::create_directories(name.ends_with('/') ? path : path.parent_path());
    if (!name.ends_with('/')) WriteFileBytes(path, content);
  }
}

// Not shared for deletion, so neither deleted nor renamed while this lives. Windows also refuses
// to rename a folder with such a file inside; Wine only honours a handle on the folder itself.
inline win::UniqueFile HoldOpen(const std::filesystem::path& path,
                                DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE) {
  return win::UniqueFile(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

}  // namespace kestrivon::testing
