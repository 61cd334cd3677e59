#include "tools/publish/sample_runtime.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "core/path_utf8.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kFillerFileBytes = uint64_t{8} << 20;

uint64_t Next(uint64_t& state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

// Words of a random vocabulary in random order: deflate finds matches as in real class and
// library files and keeps about half of the bytes.
class Filler {
 public:
  explicit Filler(uint64_t seed) : state_(0x9E3779B97F4A7C15ULL ^ seed) {
    for (std::string& word : vocabulary_) {
      word.resize(3 + Next(state_) % 8);
      for (char& c : word) c = static_cast<char>('a' + Next(state_) % 26);
      word += ' ';
    }
  }

  void Fill(std::vector<char>& buffer) {
    for (size_t at = 0; at < buffer.size();) {
      const std::string& word = vocabulary_[Next(state_) % vocabulary_.size()];
      const size_t count = std::min(word.size(), buffer.size() - at);
      std::copy_n(word.begin(), count, buffer.begin() + static_cast<std::ptrdiff_t>(at));
      at += count;
    }
  }

 private:
  uint64_t state_;
  std::array<std::string, 8192> vocabulary_;
};

bool WriteText(const fs::path& file, std::string_view text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  return static_cast<bool>(out.write(text.data(), static_cast<std::streamsize>(text.size())));
}

}  // namespace

std::expected<uint64_t, std::string> WriteSampleRuntime(const SampleRuntimeOptions& options) {
  const std::string folderText = core::PathToUtf8(options.folder);
  std::error_code error;
  if (fs::exists(fs::symlink_status(options.folder, error))) {
    return std::unexpected(fmt::format("{} already exists", folderText));
  }
  const fs::path root =
      options.topLevel.empty() ? options.folder : options.folder / options.topLevel;
  fs::create_directories(root / "bin", error);
  if (!error) fs::create_directories(root / "lib", error);
  if (error)
    return std::unexpected(fmt::format("can't create {}: {}", folderText, error.message()));

  const fs::path java = root / "bin" / "java.exe";
  if (!options.javaExe.empty()) {
    fs::copy_file(options.javaExe, java, error);
    if (error) {
      return std::unexpected(
          fmt::format("can't copy {}: {}", core::PathToUtf8(options.javaExe), error.message()));
    }
  } else if (!WriteText(java, "placeholder java.exe: pass --java-exe for a real program\n")) {
    return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(java)));
  }
  if (!WriteText(root / "release",
                 fmt::format("JAVA_VERSION=\"21.0.0\"\nIMPLEMENTOR=\"Kestrivon sample {}\"\n",
                             options.seed))) {
    return std::unexpected(fmt::format("can't write {}/release", folderText));
  }

  uint64_t files = 2;
  Filler filler(options.seed);
  std::vector<char> buffer;
  for (uint64_t left = options.fillerBytes; left > 0; ++files) {
    const uint64_t size = std::min(left, kFillerFileBytes);
    buffer.resize(static_cast<size_t>(size));
    filler.Fill(buffer);
    const fs::path file = root / "lib" / fmt::format("filler-{:03}.bin", files - 2);
    if (!WriteText(file, std::string_view(buffer.data(), buffer.size()))) {
      return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(file)));
    }
    left -= size;
  }
  return files;
}

}  // namespace kestrivon::publish
