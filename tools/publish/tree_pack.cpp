#include "tools/publish/tree_pack.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "core/path_utf8.h"
#include "tools/publish/progress.h"
#include "tools/publish/zip_pack.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Status = std::expected<void, std::string>;

// Files up to this size are deflated ahead on worker threads, a batch at a time, and written
// in order; larger ones stream through one thread without being held in memory.
constexpr uint64_t kParallelFileBytes = uint64_t{64} << 20;
constexpr uint64_t kBatchBytes = uint64_t{32} << 20;  // also the progress step

std::expected<PreparedEntry, std::string> PrepareFile(const InputEntry& entry) {
  std::ifstream in(entry.source, std::ios::binary);
  if (!in) return std::unexpected("can't open it");
  return PrepareEntry(entry.name, in, entry.size);
}

// Deflates the batch's files on up to `threads` threads.
std::vector<std::expected<PreparedEntry, std::string>> PrepareBatch(
    const std::vector<const InputEntry*>& batch, unsigned threads) {
  std::vector<std::expected<PreparedEntry, std::string>> prepared(batch.size());
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t index = next++; index < batch.size(); index = next++) {
      prepared[index] = PrepareFile(*batch[index]);
    }
  };
  std::vector<std::jthread> workers;
  for (unsigned worker = 1; worker < threads; ++worker) workers.emplace_back(work);
  work();
  return prepared;
}

}  // namespace

Status PackTree(const InputTree& tree, const fs::path& archive, const std::string& label,
                std::ostream* progressOut, bool progressIsTerminal) {
  std::ofstream out(archive, std::ios::binary | std::ios::trunc);
  if (!out) return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(archive)));
  ZipPacker packer(out);
  ProgressLine progress(progressOut, progressIsTerminal, label, tree.bytes);
  const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  const auto failed = [](const InputEntry& entry, const std::string& reason) {
    return std::unexpected(
        fmt::format("can't pack {}: {}", core::PathToUtf8(entry.source), reason));
  };
  uint64_t done = 0;
  for (size_t at = 0; at < tree.entries.size();) {
    const InputEntry& entry = tree.entries[at];
    if (entry.directory) {
      if (Status added = packer.AddDirectory(entry.name); !added)
        return failed(entry, added.error());
      ++at;
      continue;
    }
    if (entry.size > kParallelFileBytes) {
      std::ifstream in(entry.source, std::ios::binary);
      if (!in) return failed(entry, "can't open it");
      Status added = packer.AddFile(entry.name, in, entry.size,
                                    [&](uint64_t bytes) { progress.Update(done + bytes); });
      if (!added) return failed(entry, added.error());
      done += entry.size;
      ++at;
      continue;
    }
    // The run of small files and folders that follows, up to the batch size.
    std::vector<const InputEntry*> batch;
    size_t end = at;
    for (uint64_t bytes = 0; end < tree.entries.size() && bytes < kBatchBytes; ++end) {
      const InputEntry& next = tree.entries[end];
      if (!next.directory && next.size > kParallelFileBytes) break;
      if (!next.directory) {
        batch.push_back(&next);
        bytes += next.size;
      }
    }
    auto prepared = PrepareBatch(batch, threads);
    size_t file = 0;
    for (; at < end; ++at) {
      const InputEntry& item = tree.entries[at];
      Status added;
      if (item.directory) {
        added = packer.AddDirectory(item.name);
      } else {
        auto& encoded = prepared[file++];
        if (!encoded) return failed(item, encoded.error());
        added = packer.AddPrepared(item.name, *encoded);
        encoded->data = {};
        done += item.size;
        progress.Update(done);
      }
      if (!added) return failed(item, added.error());
    }
  }
  if (Status finished = packer.Finish(); !finished) {
    return std::unexpected(
        fmt::format("can't write {}: {}", core::PathToUtf8(archive), finished.error()));
  }
  out.close();
  if (!out) return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(archive)));
  progress.Finish();
  return {};
}

}  // namespace kestrivon::publish
