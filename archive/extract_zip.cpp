#include "archive/extract_zip.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "archive/extract_limits.h"
#include "archive/extract_pool.h"
#include "archive/zip_reader.h"
#include "core/ascii.h"
#include "core/escaped_text.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "core/path_text.h"
#include "core/path_utf8.h"

namespace kestrivon::archive {
namespace {

namespace fs = std::filesystem;
using Result = std::expected<void, std::string>;

struct ZipEntry {
  uint32_t index = 0;
  std::string path;  // normalized, '/'-separated
  bool directory = false;
};

// Listing: names through the path rules, in archive order.
std::expected<std::vector<ZipEntry>, std::string> ListEntries(const ZipReader& reader) {
  std::vector<ZipEntry> entries;
  entries.reserve(static_cast<size_t>(reader.EntryCount()));
  std::vector<char> name(ZipReader::kNameBufferSize);
  std::string normalized;
  for (uint64_t index = 0; index < reader.EntryCount(); ++index) {
    const std::optional<size_t> length = reader.EntryName(index, name);
    if (!length) continue;
    const std::string_view asRead(name.data(), *length);
    const EntryPathVerdict verdict = NormalizeEntryPath(asRead, normalized);
    if (verdict == EntryPathVerdict::Skip) continue;
    if (verdict == EntryPathVerdict::Unsafe) {
      return std::unexpected(
          fmt::format("unsafe entry path in archive: {}", core::EscapeText(asRead)));
    }
    if (verdict == EntryPathVerdict::Unusable) {
      return std::unexpected(
          fmt::format("reserved entry name in archive: {}", core::EscapeText(asRead)));
    }
    if (normalized.size() > kMaxEntryPathLength) {
      return std::unexpected(fmt::format("entry path too long ({} chars)", normalized.size()));
    }
    // A name that is not UTF-8 has no file name we could give it on every platform, and
    // guessing one could land two entries on the same file: refuse the archive.
    if (!IsUtf8PathText(normalized)) {
      return std::unexpected(
          fmt::format("unsafe entry path in archive: {}", core::EscapeText(asRead)));
    }
    entries.push_back(
        ZipEntry{static_cast<uint32_t>(index), normalized, reader.IsDirectory(index)});
  }
  return entries;
}

bool LessIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return core::AsciiLower(x) < core::AsciiLower(y);
  });
}

// Two entries for one file, or a file and a folder of one name, would make the result depend
// on the order of writing and, where letter case does not count, on the platform: refuse
// them. Folders listed twice are harmless. Returns the later entry of a clash.
const ZipEntry* FindConflict(const std::vector<ZipEntry>& entries) {
  std::vector<uint32_t> order(entries.size());
  for (uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return LessIgnoringAsciiCase(entries[a].path, entries[b].path);
  });
  for (size_t i = 1; i < order.size(); ++i) {
    const ZipEntry& earlier = entries[order[i - 1]];
    const ZipEntry& later = entries[order[i]];
    if (core::EqualsIgnoringAsciiCase(earlier.path, later.path) &&
        !(earlier.directory && later.directory)) {
      return &later;
    }
  }
  return nullptr;
}

// Drops the one folder that holds every entry; returns it, or nothing when there is none.
// Threads that write files: as asked, else one per core, at least 2 and at most 4.
unsigned WorkerCount(unsigned asked) {
  if (asked > 0) return asked;
  return std::clamp(std::thread::hardware_concurrency(), 2u, 4u);
}

std::optional<std::string> StripTopLevelFolder(std::vector<ZipEntry>& entries) {
  if (entries.empty()) return std::nullopt;
  const std::string& first = entries.front().path;
  const std::string prefix = first.substr(0, first.find('/'));
  const bool applies = std::all_of(entries.begin(), entries.end(), [&](const ZipEntry& entry) {
    if (entry.path == prefix) return entry.directory;
    return entry.path.size() > prefix.size() && entry.path.starts_with(prefix) &&
           entry.path[prefix.size()] == '/';
  });
  if (!applies) return std::nullopt;
  std::erase_if(entries, [&](const ZipEntry& entry) { return entry.path == prefix; });
  for (ZipEntry& entry : entries) entry.path.erase(0, prefix.size() + 1);
  return prefix;
}

class Extraction {
 public:
  Extraction(const fs::path& archive, const fs::path& destination, const ExtractOptions& options)
      : archive_(archive),
        destination_(destination),
        options_(options),
        archiveText_(core::PathToUtf8(archive)) {}

  Result Run();

 private:
  Result CreateFolder(const fs::path& folder);
  Result WriteFile(uint64_t sequence, const ZipEntry& entry, const fs::path& target);
  Result ExtractEntries(const std::vector<ZipEntry>& entries);
  // The error of an entry the pool wrote earlier, if any (written one by one, it would have
  // ended the run first), else `error`.
  Result Stop(Result error);

  const fs::path& archive_;
  const fs::path& destination_;
  const ExtractOptions& options_;
  const std::string archiveText_;
  std::optional<ArchiveStream> stream_;  // outlives the reader that reads through it
  ZipReader reader_;
  std::optional<ExtractPool> pool_;  // ends before the reader it reads through
  EntryLimits limits_;
  fs::path lastFolder_;  // the last folder known to exist: most entries share theirs
};

Result Extraction::CreateFolder(const fs::path& folder) {
  if (!lastFolder_.empty() && folder == lastFolder_) return {};
  std::error_code error;
  fs::create_directories(core::LongPath(folder), error);
  if (error) {
    return std::unexpected(
        fmt::format("can't create {}: {}", core::PathToUtf8(folder), error.message()));
  }
  lastFolder_ = folder;
  return {};
}

Result Extraction::Stop(Result error) {
  if (Result earlier = pool_->Finish(); !earlier) return earlier;
  return error;
}

Result Extraction::WriteFile(uint64_t sequence, const ZipEntry& entry, const fs::path& target) {
  const std::optional<ZipEntryStat> stat = reader_.Stat(entry.index);
  if (!stat) return Stop(std::unexpected(fmt::format("can't read entry {}", entry.path)));
  if (Result admitted = limits_.Admit(entry.path, stat->compressedSize, stat->uncompressedSize);
      !admitted) {
    return Stop(std::move(admitted));
  }
  if (Result created = CreateFolder(target.parent_path()); !created) {
    return Stop(std::move(created));
  }
  // Created here, in entry order, so that a later entry's folder of the same name fails as
  // it would one by one; the pool only fills it.
  std::ofstream out = core::OpenFreshFile(target);
  if (!out.is_open()) {
    return Stop(std::unexpected(fmt::format("can't write {}", core::PathToUtf8(target))));
  }
  FileJob job{.sequence = sequence,
              .index = entry.index,
              .entryPath = entry.path,
              .target = target,
              .size = stat->uncompressedSize,
              .out = std::move(out)};
  if (!pool_->Submit(std::move(job))) return pool_->Finish();
  return {};
}

Result Extraction::Run() {
  std::error_code error;
  const uintmax_t archiveSize = fs::file_size(core::LongPath(archive_), error);
  if (error || archiveSize == 0) return std::unexpected(fmt::format("can't read {}", archiveText_));
  if (Result sized = CheckArchiveSize(archiveSize, archiveText_); !sized) return sized;

  fs::create_directories(core::LongPath(destination_), error);
  if (error) {
    return std::unexpected(
        fmt::format("can't create {}: {}", core::PathToUtf8(destination_), error.message()));
  }
  if (const std::optional<uint64_t> available = core::AvailableBytes(destination_)) {
    if (Result room = CheckDiskSpace(archiveSize, *available); !room) return room;
  }

  ArchiveStream& stream = stream_.emplace(archive_);
  if (!stream.IsOpen()) return std::unexpected(fmt::format("can't open {}", archiveText_));
  const auto read = [&stream](uint64_t offset, void* buffer, size_t size) {
    return stream.Read(offset, buffer, size);
  };
  if (!reader_.Open(read, archiveSize, kMaxEntries)) {
    return std::unexpected(fmt::format("not a valid ZIP archive: {}", archiveText_));
  }
  if (Result counted = CheckEntryCount(reader_.EntryCount(), archiveText_); !counted) {
    return counted;
  }

  auto listed = ListEntries(reader_);
  if (!listed) return std::unexpected(std::move(listed.error()));
  std::vector<ZipEntry>& entries = *listed;
  if (const ZipEntry* conflict = FindConflict(entries)) {
    return std::unexpected(fmt::format("conflicting entry path in archive: {}", conflict->path));
  }
  if (options_.stripTopLevelFolder) {
    if (const auto prefix = StripTopLevelFolder(entries)) {
      core::LogFormat(core::LogLevel::Info, "Extracting {} without its top-level folder \"{}\"",
                      archiveText_, *prefix);
    }
  }

  return ExtractEntries(entries);
}

Result Extraction::ExtractEntries(const std::vector<ZipEntry>& entries) {
  const uint64_t listed = entries.size();
  pool_.emplace(reader_, archive_, WorkerCount(options_.workers), [this, listed](uint64_t done) {
    if (options_.progress) options_.progress(done, listed);
  });
  if (!pool_->Start()) return std::unexpected(fmt::format("can't open {}", archiveText_));

  const bool single = !options_.onlyFile.empty();
  uint64_t files = 0;
  bool found = false;
  std::error_code error;
  for (uint64_t sequence = 0; sequence < entries.size(); ++sequence) {
    const ZipEntry& entry = entries[sequence];
    if (options_.cancelled && options_.cancelled()) return Stop(std::unexpected("cancelled"));
    fs::path target = destination_ / core::PathFromUtf8(entry.path);
    if (single) {
      if (entry.directory ||
          !core::EqualsIgnoringAsciiCase(core::LastPathComponent(entry.path), options_.onlyFile)) {
        continue;
      }
      target = destination_ / core::PathFromUtf8(options_.onlyFile);
    }
    if (entry.directory) {
      // Not cached as lastFolder_: a folder made here says nothing about file parents.
      fs::create_directories(core::LongPath(target), error);
      if (error) {
        return Stop(std::unexpected(
            fmt::format("can't create {}: {}", core::PathToUtf8(target), error.message())));
      }
      continue;
    }
    if (Result written = WriteFile(sequence, entry, target); !written) return written;
    ++files;
    if (single) {
      found = true;
      break;
    }
  }
  if (Result done = pool_->Finish(); !done) return done;
  if (single && !found) {
    return std::unexpected(fmt::format("{} not found in {}", options_.onlyFile, archiveText_));
  }
  core::LogFormat(core::LogLevel::Info, "Extracted {} ({} files) to {}", archiveText_, files,
                  core::PathToUtf8(destination_));
  return {};
}

}  // namespace

std::expected<void, std::string> ExtractZip(const std::filesystem::path& archive,
                                            const std::filesystem::path& destination,
                                            const ExtractOptions& options) {
  // Never lets an exception into the caller's thread.
  return core::CallReturningText(fmt::format("failed to extract {}", core::PathToUtf8(archive)),
                                 [&] { return Extraction(archive, destination, options).Run(); });
}

}  // namespace kestrivon::archive
