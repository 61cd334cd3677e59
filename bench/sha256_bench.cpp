// Sha256File throughput on a cached 1 GiB file, once per compression routine.
// The file is named by KESTRIVON_BENCH_FILE (scripts/bench creates it).

#include <cstdlib>
#include <filesystem>
#include <string>

#include <benchmark/benchmark.h>

#include "core/file_digest.h"
#include "core/sha256_block.h"

namespace {

std::filesystem::path BenchFile() {
  const char* file = std::getenv("KESTRIVON_BENCH_FILE");
  return file != nullptr ? file : "build/bench-data/sha256-1GiB.bin";
}

void HashFile(benchmark::State& state, kestrivon::core::Sha256BlockFunction routine) {
  if (routine == nullptr) {
    state.SkipWithError("routine not available on this CPU");
    return;
  }
  kestrivon::core::SetActiveSha256Blocks(routine);
  const std::filesystem::path file = BenchFile();
  std::error_code error;
  const auto size = std::filesystem::file_size(file, error);
  if (error) {
    state.SkipWithError(("missing " + file.string()).c_str());
    return;
  }
  for (auto _ : state) {
    auto digest = kestrivon::core::Sha256File(file, {});
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  kestrivon::core::SetActiveSha256Blocks(nullptr);
}

void Sha256FileShaExtensions(benchmark::State& state) {
  HashFile(state, kestrivon::core::ShaExtensionBlocks());
}
void Sha256FilePortable(benchmark::State& state) {
  HashFile(state, &kestrivon::core::Sha256BlocksPortable);
}

BENCHMARK(Sha256FileShaExtensions)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();
BENCHMARK(Sha256FilePortable)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
