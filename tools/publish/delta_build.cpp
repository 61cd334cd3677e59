#include "tools/publish/delta_build.h"

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <zstd.h>

#include "core/file_digest.h"
#include "core/path_utf8.h"
#include "delta/delta_list.h"
#include "tools/publish/zip_pack.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Status = std::expected<void, std::string>;

constexpr int kPatchLevel = 19;
// A quick pass first: a file the fast level cannot patch to below this share of its size is
// carried whole, and the slow level is spent only where patching pays.
constexpr int kProbeLevel = 3;
constexpr double kProbeWorthwhile = 0.9;

struct CCtxDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

std::expected<std::string, std::string> Compress(std::span<const uint8_t> old,
                                                 std::span<const uint8_t> fresh, int level) {
  const std::unique_ptr<ZSTD_CCtx, CCtxDeleter> context(ZSTD_createCCtx());
  if (!context) return std::unexpected("out of memory for zstd");
  const int windowLog = delta::PatchWindowLog(old.size(), fresh.size());
  for (const auto& [parameter, value] :
       {std::pair{ZSTD_c_compressionLevel, level}, std::pair{ZSTD_c_windowLog, windowLog},
        std::pair{ZSTD_c_enableLongDistanceMatching, 1}}) {
    if (const size_t code = ZSTD_CCtx_setParameter(context.get(), parameter, value);
        ZSTD_isError(code)) {
      return std::unexpected(fmt::format("zstd: {}", ZSTD_getErrorName(code)));
    }
  }
  if (!old.empty()) {
    if (const size_t code = ZSTD_CCtx_refPrefix(context.get(), old.data(), old.size());
        ZSTD_isError(code)) {
      return std::unexpected(fmt::format("zstd: {}", ZSTD_getErrorName(code)));
    }
  }
  std::string patch(ZSTD_compressBound(fresh.size()), '\0');
  const size_t size =
      ZSTD_compress2(context.get(), patch.data(), patch.size(), fresh.data(), fresh.size());
  if (ZSTD_isError(size)) return std::unexpected(fmt::format("zstd: {}", ZSTD_getErrorName(size)));
  patch.resize(size);
  return patch;
}

std::expected<std::vector<uint8_t>, std::string> ReadFile(const fs::path& path) {
  std::error_code error;
  const uintmax_t size = fs::file_size(path, error);
  std::ifstream in(path, std::ios::binary);
  if (error || !in) return std::unexpected(fmt::format("can't read {}", core::PathToUtf8(path)));
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    return std::unexpected(fmt::format("can't read {}", core::PathToUtf8(path)));
  }
  return bytes;
}

std::string Digest(std::span<const uint8_t> bytes) {
  core::Sha256 hasher;
  hasher.Update(bytes.data(), bytes.size());
  return core::ToHex(hasher);
}

// The regular files below `root`, '/'-separated and sorted: the order of the list.
std::expected<std::vector<std::string>, std::string> ListFiles(const fs::path& root) {
  std::vector<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file())
      files.push_back(core::PathToUtf8(it->path().lexically_relative(root)));
  }
  if (error) return std::unexpected(fmt::format("can't list {}", core::PathToUtf8(root)));
  std::sort(files.begin(), files.end());
  return files;
}

// Decides how one file of the new tree is made and adds its entry to the package.
Status AddFile(const fs::path& oldTree, const fs::path& newTree, const std::string& path,
               ZipPacker& packer, delta::DeltaFile& file) {
  const fs::path freshPath = newTree / core::PathFromUtf8(path);
  const fs::path oldPath = oldTree / core::PathFromUtf8(path);
  auto fresh = ReadFile(freshPath);
  if (!fresh) return std::unexpected(fresh.error());
  file.path = path;
  file.size = fresh->size();
  file.sha256 = Digest(*fresh);
  std::error_code error;
  if (fs::is_regular_file(oldPath, error)) {
    auto old = ReadFile(oldPath);
    if (!old) return std::unexpected(old.error());
    file.oldSize = old->size();
    file.oldSha256 = Digest(*old);
    if (file.oldSha256 == file.sha256) {
      file.source = delta::FileSource::Copy;
      return {};
    }
    auto probe = Compress(*old, *fresh, kProbeLevel);
    if (!probe) return std::unexpected(probe.error());
    if (static_cast<double>(probe->size()) <
        kProbeWorthwhile * static_cast<double>(fresh->size())) {
      auto patch = Compress(*old, *fresh, kPatchLevel);
      if (!patch) return std::unexpected(patch.error());
      // The slow level is not always the smaller: on a large file with few, scattered changes
      // its parser has been seen to miss most of the long matches the fast one takes.
      if (probe->size() < patch->size()) patch = std::move(probe);
      file.source = delta::FileSource::Patch;
      std::istringstream in(*patch);
      return packer.AddFile(delta::EntryNameOf(file), in, patch->size());
    }
  }
  file.source = delta::FileSource::Whole;
  file.oldSize = 0;
  file.oldSha256.clear();
  std::ifstream in(freshPath, std::ios::binary);
  return packer.AddFile(delta::EntryNameOf(file), in, file.size);
}

}  // namespace

std::expected<std::string, std::string> MakePatch(std::span<const uint8_t> old,
                                                  std::span<const uint8_t> fresh) {
  return Compress(old, fresh, kPatchLevel);
}

std::expected<DeltaBuildReport, std::string> BuildDelta(const fs::path& oldTree,
                                                        const fs::path& newTree,
                                                        const fs::path& output) {
  auto files = ListFiles(newTree);
  if (!files) return std::unexpected(std::move(files.error()));
  if (files->empty())
    return std::unexpected(fmt::format("{} holds no file", core::PathToUtf8(newTree)));
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  if (!out) return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(output)));
  ZipPacker packer(out);
  delta::DeltaList list;
  DeltaBuildReport report;
  for (const std::string& path : *files) {
    delta::DeltaFile& file = list.files.emplace_back();
    if (Status added = AddFile(oldTree, newTree, path, packer, file); !added) {
      return std::unexpected(fmt::format("delta of {}: {}", path, added.error()));
    }
    ++(file.source == delta::FileSource::Copy    ? report.copied
       : file.source == delta::FileSource::Patch ? report.patched
                                                 : report.whole);
  }
  const std::string text = delta::SerializeDeltaList(list);
  std::istringstream in(text);
  if (Status added = packer.AddFile(delta::kListEntry, in, text.size()); !added) {
    return std::unexpected(added.error());
  }
  if (Status finished = packer.Finish(); !finished) return std::unexpected(finished.error());
  out.close();
  if (!out) return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(output)));
  std::error_code error;
  report.size = fs::file_size(output, error);
  return report;
}

}  // namespace kestrivon::publish
