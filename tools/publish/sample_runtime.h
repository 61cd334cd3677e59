#pragma once

// A stand-in Java runtime for tests and the demo: bin/java.exe, a release file and filler
// files that deflate about as well as a real runtime (to roughly half).

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

namespace kestrivon::publish {

struct SampleRuntimeOptions {
  std::filesystem::path folder;  // must not exist yet
  uint64_t fillerBytes = 0;      // spread over lib/filler-NNN.bin files of at most 8 MiB
  // Copied as bin/java.exe; when empty a placeholder text file takes its place (enough for
  // publishing, not for starting).
  std::filesystem::path javaExe;
  std::string topLevel;  // when not empty, everything goes below this one folder
  uint64_t seed = 1;     // another seed gives other filler bytes: a "new" runtime
};

// The number of files written.
std::expected<uint64_t, std::string> WriteSampleRuntime(const SampleRuntimeOptions& options);

}  // namespace kestrivon::publish
