#pragma once

// What every fuzz target shares: its entry point, the one way it reports a broken property (a
// message, then abort(), which both libFuzzer and the replay test count as a failure), and the
// scratch folder it may write into. Included by the target's one source file.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace kestrivon::fuzz {

// The target's checks on one input.
void TestOneInput(std::string_view input);

inline void Check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (condition) return;
  std::fputs(("FUZZ FAILURE: " + std::string(what) + " " + std::string(detail) + "\n").c_str(),
             stderr);
  std::abort();
}

// <KESTRIVON_FUZZ_TMP or /dev/shm>/kestrivon-fuzz-<name>-<pid>, made when missing and removed
// when the process exits.
inline const std::filesystem::path& ScratchFolder(std::string_view name) {
  struct Folder {
    std::filesystem::path path;
    ~Folder() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  };
  const char* base = std::getenv("KESTRIVON_FUZZ_TMP");
  static const Folder folder{
      std::filesystem::path(base != nullptr ? base : "/dev/shm") /
      ("kestrivon-fuzz-" + std::string(name) + "-" + std::to_string(getpid()))};
  std::filesystem::create_directories(folder.path);
  return folder.path;
}

}  // namespace kestrivon::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrivon::fuzz::TestOneInput(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
