#pragma once

// The one way a fuzz target reports a broken property (a message, then abort(), which both
// libFuzzer and the replay test count as a failure), and the scratch folder a target may
// write into.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrivon::fuzz {

[[noreturn]] inline void Fail(std::string_view what, std::string_view detail = {}) {
  const std::string line = "FUZZ FAILURE: " + std::string(what) + " " + std::string(detail) + "\n";
  std::fputs(line.c_str(), stderr);
  std::abort();
}

inline void Check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) Fail(what, detail);
}

// <KESTRIVON_FUZZ_TMP or /dev/shm>/kestrivon-fuzz-<name>-<pid>, made on first use and removed
// when the process exits.
inline const std::filesystem::path& ScratchFolder(std::string_view name) {
  struct Folder {
    std::filesystem::path path;
    explicit Folder(std::string_view folderName) {
      const char* base = std::getenv("KESTRIVON_FUZZ_TMP");
      path = std::filesystem::path(base != nullptr ? base : "/dev/shm") /
             ("kestrivon-fuzz-" + std::string(folderName) + "-" + std::to_string(getpid()));
      std::filesystem::create_directories(path);
    }
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  static const Folder folder(name);
  return folder.path;
}

}  // namespace kestrivon::fuzz
