// Applies one delta package to an installed copy natively, as the updater does, and prints
// what it made, the time and the process's peak resident set size, before and after: the
// peak while patching, since the delta is the only large work this process does.
// Usage: kestrivon_delta_apply_bench INSTALLED_FOLDER DELTA_ZIP STAGING_FOLDER

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "delta/delta_apply.h"

namespace {

// VmHWM, not getrusage's maximum: that one keeps the parent's peak across fork and exec.
long PeakRssKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s INSTALLED_FOLDER DELTA_ZIP STAGING_FOLDER\n", argv[0]);
    return 2;
  }
  const long before = PeakRssKiB();
  const auto started = std::chrono::steady_clock::now();
  const auto applied = kestrivon::delta::ApplyDelta(argv[1], argv[2], argv[3], {});
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  if (!applied) {
    std::fprintf(stderr, "the delta did not apply: %s\n", applied.error().c_str());
    return 1;
  }
  // One line for scripts: copied patched whole bytes seconds peak-before-KiB peak-KiB.
  std::printf(
      "%llu %llu %llu %llu %.3f %ld %ld\n", static_cast<unsigned long long>(applied->copied),
      static_cast<unsigned long long>(applied->patched),
      static_cast<unsigned long long>(applied->whole),
      static_cast<unsigned long long>(applied->bytes), seconds.count(), before, PeakRssKiB());
  return 0;
}
