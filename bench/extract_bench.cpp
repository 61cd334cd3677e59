// Times our ExtractZip against "bsdtar -xf" on one archive, each run in its own process and
// into a fresh folder, in rounds whose order rotates, so that neither tool always goes first
// into a machine the other has just warmed or loaded. Prints each round, the medians, the
// median of the rounds' ratios and our peak resident set size.
// Usage: kestrivon_extract_bench ARCHIVE WORK_FOLDER [ROUNDS]
//        kestrivon_extract_bench --extract ARCHIVE FOLDER WORKERS   (one run of ours)

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/extract_zip.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Tool {
  const char* label;
  std::vector<std::string> (*command)(const std::string& self, const fs::path& archive,
                                      const fs::path& out);
};

const Tool kTools[] = {
    {"ours",
     [](const std::string& self, const fs::path& archive, const fs::path& out) {
       return std::vector<std::string>{self, "--extract", archive, out, "0"};
     }},
    {"ours-1",  // one thread, as before the worker pool
     [](const std::string& self, const fs::path& archive, const fs::path& out) {
       return std::vector<std::string>{self, "--extract", archive, out, "1"};
     }},
    {"bsdtar",
     [](const std::string&, const fs::path& archive, const fs::path& out) {
       return std::vector<std::string>{"bsdtar", "-xf", archive, "-C", out};
     }},
};
constexpr size_t kToolCount = std::size(kTools);

struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;
  long peakRssKiB = 0;
};

// The archive in the page cache, earlier output written back: every run starts alike. Earlier
// output is kept until the end: ext4 scans past inodes deleted in the last minute when it
// allocates new ones, which would charge each run for the files of the one before it.
void Settle(const fs::path& archive, const fs::path& out) {
  fs::create_directories(out);
  std::ifstream file(archive, std::ios::binary);
  static char buffer[1 << 20];
  while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
  }
  sync();
}

bool Spawn(const std::vector<std::string>& command, Sample& sample) {
  std::vector<char*> argv;
  for (const std::string& word : command) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return false;
  sample.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sample.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                      static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  sample.peakRssKiB = usage.ru_maxrss;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

uint64_t CountFiles(const fs::path& root) {
  uint64_t files = 0;
  for (const auto& item : fs::recursive_directory_iterator(root)) files += item.is_regular_file();
  return files;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int ExtractOnce(const char* archive, const char* folder, const char* workers) {
  kestrivon::archive::ExtractOptions options;
  options.workers = static_cast<unsigned>(std::strtoul(workers, nullptr, 10));
  const auto result = kestrivon::archive::ExtractZip(archive, folder, options);
  if (!result) std::fprintf(stderr, "ExtractZip: %s\n", result.error().c_str());
  return result ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--extract")
    return ExtractOnce(argv[2], argv[3], argv[4]);
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s ARCHIVE WORK_FOLDER [ROUNDS]\n", argv[0]);
    return 2;
  }
  const fs::path archive = fs::absolute(argv[1]);
  const fs::path work = fs::absolute(argv[2]);
  const int rounds = argc == 4 ? std::atoi(argv[3]) : 7;
  const std::string self = fs::canonical("/proc/self/exe");
  std::printf("archive: %s, %.1f MB; %d rounds, each tool in its own process, order rotating\n",
              archive.c_str(), static_cast<double>(fs::file_size(archive)) / 1e6, rounds);

  std::vector<Sample> samples[kToolCount];
  std::vector<double> ratios;  // ours / bsdtar within each round
  for (int round = 0; round < rounds; ++round) {
    std::printf("round %d:", round + 1);
    Sample inRound[kToolCount];
    for (size_t step = 0; step < kToolCount; ++step) {
      const size_t tool = (static_cast<size_t>(round) + step) % kToolCount;
      const fs::path out = work / (kTools[tool].label + std::string("-") + std::to_string(round));
      Settle(archive, out);
      if (!Spawn(kTools[tool].command(self, archive, out), inRound[tool])) {
        std::printf("\n%s FAILED\n", kTools[tool].label);
        return 1;
      }
      if (round == 0)
        std::printf(" [%s: %llu files]", kTools[tool].label,
                    static_cast<unsigned long long>(CountFiles(out)));
      std::printf("  %s %.2f s (%.2f s CPU)", kTools[tool].label, inRound[tool].seconds,
                  inRound[tool].cpuSeconds);
      std::fflush(stdout);
    }
    std::printf("\n");
    for (size_t tool = 0; tool < kToolCount; ++tool) samples[tool].push_back(inRound[tool]);
    ratios.push_back(inRound[2].seconds / inRound[0].seconds);
  }

  std::printf("medians:");
  for (size_t tool = 0; tool < kToolCount; ++tool) {
    std::vector<double> seconds;
    std::vector<double> cpu;
    long peak = 0;
    for (const Sample& sample : samples[tool]) {
      seconds.push_back(sample.seconds);
      cpu.push_back(sample.cpuSeconds);
      peak = std::max(peak, sample.peakRssKiB);
    }
    std::printf("  %s %.2f s (%.2f s CPU, peak RSS %.1f MiB)", kTools[tool].label, Median(seconds),
                Median(cpu), static_cast<double>(peak) / 1024.0);
  }
  std::printf("\nbsdtar / ours, median of the rounds' ratios: %.2f x (goal >= 1.8)\n",
              Median(ratios));
  fs::remove_all(work);
  return 0;
}
