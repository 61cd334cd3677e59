// Times ExtractZip, Info-ZIP "unzip -q" and "bsdtar -xf" on one archive, each into a fresh
// folder, and prints output MB/s (10^6 bytes), files/s and our peak resident set size.
// Usage: kestrivon_extract_bench ARCHIVE WORK_FOLDER

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <fmt/format.h>

#include "archive/extract_zip.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Tree {
  uint64_t files = 0;
  uint64_t bytes = 0;
};

Tree Measure(const fs::path& root) {
  Tree tree;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file() && !item.is_symlink()) {
      ++tree.files;
      tree.bytes += item.file_size();
    }
  }
  return tree;
}

// Peak resident set of this process in KiB.
long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// The archive in the page cache, earlier output written back: every tool starts alike.
void Settle(const fs::path& archive) {
  std::ifstream file(archive, std::ios::binary);
  static char buffer[1 << 20];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
  }
  sync();
}

bool Run(const char* label, const fs::path& archive, const fs::path& out,
         const std::function<bool()>& extract) {
  fs::remove_all(out);
  fs::create_directories(out);
  Settle(archive);
  const auto start = Clock::now();
  const bool ok = extract();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!ok) {
    std::printf("%-8s FAILED\n", label);
    return false;
  }
  const Tree tree = Measure(out);
  std::printf("%-8s %7.2f s %8.1f MB/s %9.0f files/s   (%llu files, %.1f MB)\n", label, seconds,
              static_cast<double>(tree.bytes) / 1e6 / seconds,
              static_cast<double>(tree.files) / seconds,
              static_cast<unsigned long long>(tree.files), static_cast<double>(tree.bytes) / 1e6);
  std::fflush(stdout);
  fs::remove_all(out);
  return true;
}

std::string Quoted(const fs::path& path) { return fmt::format("'{}'", path.string()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ARCHIVE WORK_FOLDER\n", argv[0]);
    return 2;
  }
  const fs::path archive = fs::absolute(argv[1]);
  const fs::path work = fs::absolute(argv[2]);
  std::printf("archive: %s, %.1f MB\n", archive.c_str(),
              static_cast<double>(fs::file_size(archive)) / 1e6);

  const long rssBefore = PeakRssKiB();
  bool ok = Run("ours", archive, work / "ours", [&] {
    const auto result = kestrivon::archive::ExtractZip(archive, work / "ours", {});
    if (!result) std::printf("ExtractZip: %s\n", result.error().c_str());
    return result.has_value();
  });
  std::printf("ours peak RSS: %.1f MiB (%.1f MiB before extracting)\n",
              static_cast<double>(PeakRssKiB()) / 1024.0, static_cast<double>(rssBefore) / 1024.0);

  ok &= Run("unzip", archive, work / "unzip", [&] {
    const std::string command =
        fmt::format("unzip -q {} -d {}", Quoted(archive), Quoted(work / "unzip"));
    return std::system(command.c_str()) == 0;
  });
  ok &= Run("bsdtar", archive, work / "bsdtar", [&] {
    const std::string command =
        fmt::format("bsdtar -xf {} -C {}", Quoted(archive), Quoted(work / "bsdtar"));
    return std::system(command.c_str()) == 0;
  });
  fs::remove_all(work);
  return ok ? 0 : 1;
}
