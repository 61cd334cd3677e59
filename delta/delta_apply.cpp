#include "delta/delta_apply.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "archive/entry_path.h"
#include "archive/extract_limits.h"
#include "archive/extract_pool.h"
#include "archive/zip_reader.h"
#include "core/ascii.h"
#include "core/escaped_text.h"
#include "core/file_digest.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "core/path_utf8.h"
#include "delta/delta_list.h"
#include "delta/patch_decoder.h"

namespace kestrivon::delta {
namespace {

namespace fs = std::filesystem;
using Status = std::expected<void, std::string>;

constexpr size_t kCopyBlock = 1024 * 1024;

// A file being made in staging, hashed as it is written.
class CheckedOutput {
 public:
  explicit CheckedOutput(const fs::path& target)
      : target_(target), out_(core::OpenFreshFile(target)) {}

  bool IsOpen() const { return out_.is_open(); }

  bool Write(const void* data, size_t size) {
    hasher_.Update(static_cast<const uint8_t*>(data), size);
    bytes_ += size;
    return static_cast<bool>(
        out_.write(static_cast<const char*>(data), static_cast<std::streamsize>(size)));
  }

  // The file must now be exactly the list's.
  Status Close(const DeltaFile& file) {
    const bool flushed = static_cast<bool>(out_.flush());
    out_.close();
    if (!flushed || !out_) {
      return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(target_)));
    }
    if (bytes_ != file.size) {
      return std::unexpected(
          fmt::format("{} comes out with {} bytes instead of {}", file.path, bytes_, file.size));
    }
    const std::string digest = core::ToHex(hasher_);
    if (!core::DigestsMatch(digest, file.sha256)) {
      return std::unexpected(
          fmt::format("{} comes out with sha256 {} instead of {}", file.path, digest, file.sha256));
    }
    return {};
  }

 private:
  fs::path target_;
  std::ofstream out_;
  core::Sha256 hasher_;
  uint64_t bytes_ = 0;
};

class Application {
 public:
  Application(const fs::path& installed, const fs::path& delta, const fs::path& staging,
              const ApplyOptions& options)
      : installed_(installed), delta_(delta), staging_(staging), options_(options) {}

  std::expected<ApplyReport, std::string> Run();

 private:
  Status OpenPackage();
  Status ReadList();
  Status MatchEntries();
  Status MakeFile(const DeltaFile& file);
  Status Copy(const DeltaFile& file, CheckedOutput& output);
  Status Patch(const DeltaFile& file, CheckedOutput& output);
  Status Extract(const DeltaFile& file, CheckedOutput& output);
  std::expected<fs::path, std::string> Installed(const DeltaFile& file) const;
  std::expected<uint32_t, std::string> EntryOf(const DeltaFile& file) const;

  const fs::path& installed_;
  const fs::path& delta_;
  const fs::path& staging_;
  const ApplyOptions& options_;
  std::optional<archive::ArchiveStream> stream_;  // outlives the reader that reads through it
  archive::ZipReader reader_;
  std::map<std::string, uint32_t, std::less<>> entries_;  // accepted name -> index
  DeltaList list_;
  archive::EntryLimits outputLimits_;
  archive::EntryLimits entryLimits_;  // the package's own entries
  fs::path lastFolder_;
  ApplyReport report_;
};

Status Application::OpenPackage() {
  const std::string deltaText = core::PathToUtf8(delta_);
  std::error_code error;
  const uintmax_t size = fs::file_size(core::LongPath(delta_), error);
  if (error || size == 0) return std::unexpected(fmt::format("can't read {}", deltaText));
  if (Status sized = archive::CheckArchiveSize(size, deltaText); !sized) return sized;
  archive::ArchiveStream& stream = stream_.emplace(delta_);
  if (!stream.IsOpen()) return std::unexpected(fmt::format("can't open {}", deltaText));
  const auto read = [&stream](uint64_t offset, void* buffer, size_t length) {
    return stream.Read(offset, buffer, length);
  };
  if (!reader_.Open(read, size, archive::kMaxEntries)) {
    return std::unexpected(fmt::format("not a valid ZIP archive: {}", deltaText));
  }
  if (Status counted = archive::CheckEntryCount(reader_.EntryCount(), deltaText); !counted) {
    return counted;
  }
  std::vector<char> name(archive::ZipReader::kNameBufferSize);
  std::string normalized;
  for (uint64_t index = 0; index < reader_.EntryCount(); ++index) {
    const std::optional<size_t> length = reader_.EntryName(index, name);
    if (!length) return std::unexpected(fmt::format("not a valid ZIP archive: {}", deltaText));
    if (reader_.IsDirectory(index)) continue;
    const std::string_view asRead(name.data(), *length);
    // The publisher writes names in the normal form only; anything else is not its package.
    if (archive::NormalizeEntryPath(asRead, normalized) != archive::EntryPathVerdict::Accept ||
        normalized != asRead) {
      return std::unexpected(
          fmt::format("unsafe entry path in delta: {}", core::EscapeText(asRead)));
    }
    if (!entries_.emplace(normalized, static_cast<uint32_t>(index)).second) {
      return std::unexpected(
          fmt::format("conflicting entry path in delta: {}", core::EscapeText(asRead)));
    }
  }
  return {};
}

Status Application::ReadList() {
  const auto found = entries_.find(kListEntry);
  if (found == entries_.end()) return std::unexpected("delta has no file list");
  const std::optional<archive::ZipEntryStat> stat = reader_.Stat(found->second);
  if (!stat || stat->uncompressedSize > kMaxListBytes) {
    return std::unexpected("delta's file list is too large");
  }
  if (Status admitted =
          entryLimits_.Admit(kListEntry, stat->compressedSize, stat->uncompressedSize);
      !admitted) {
    return admitted;
  }
  std::string text;
  text.reserve(static_cast<size_t>(stat->uncompressedSize));
  const auto extracted = reader_.Extract(found->second, [&text](const void* data, size_t size) {
    text.append(static_cast<const char*>(data), size);
    return size;
  });
  if (!extracted) return std::unexpected("delta's file list can't be read");
  auto list = ParseDeltaList(text);
  if (!list) return std::unexpected(std::move(list.error()));
  list_ = std::move(*list);
  return {};
}

// Every patch and whole file of the list has its entry, and the package holds nothing else.
Status Application::MatchEntries() {
  size_t named = 1;  // the list itself
  for (const DeltaFile& file : list_.files) {
    if (file.source == FileSource::Copy) continue;
    auto index = EntryOf(file);
    if (!index) return std::unexpected(std::move(index.error()));
    ++named;
  }
  if (named == entries_.size()) return {};
  std::set<std::string, std::less<>> used;
  for (const DeltaFile& file : list_.files) used.insert(EntryNameOf(file));
  for (const auto& [name, index] : entries_) {
    if (name != kListEntry && !used.contains(name)) {
      return std::unexpected(
          fmt::format("delta holds {}, which its list does not name", core::EscapeText(name)));
    }
  }
  return {};
}

std::expected<uint32_t, std::string> Application::EntryOf(const DeltaFile& file) const {
  const std::string name = EntryNameOf(file);
  const auto found = entries_.find(name);
  if (found == entries_.end()) {
    return std::unexpected(fmt::format("delta lacks {}", core::EscapeText(name)));
  }
  return found->second;
}

// The installed file a copy or a patch reads, when it is the one the delta was made from by
// its size; its digest is checked as it is read.
std::expected<fs::path, std::string> Application::Installed(const DeltaFile& file) const {
  const fs::path source = installed_ / core::PathFromUtf8(file.path);
  std::error_code error;
  if (!fs::is_regular_file(core::LongPath(source), error)) {
    return std::unexpected(fmt::format("installed copy lacks {}", file.path));
  }
  const uintmax_t size = fs::file_size(core::LongPath(source), error);
  if (error || size != file.oldSize) {
    return std::unexpected(
        fmt::format("installed {} is not the version the delta was made from", file.path));
  }
  return source;
}

Status Application::Copy(const DeltaFile& file, CheckedOutput& output) {
  auto source = Installed(file);
  if (!source) return std::unexpected(std::move(source.error()));
  std::ifstream in(core::LongPath(*source), std::ios::binary);
  std::vector<char> block(kCopyBlock);
  uint64_t left = file.size;
  while (left > 0 && in) {
    in.read(block.data(), static_cast<std::streamsize>(std::min<uint64_t>(left, block.size())));
    const auto got = static_cast<size_t>(in.gcount());
    if (got == 0) break;
    if (!output.Write(block.data(), got)) break;
    left -= got;
  }
  // A file changed since it was installed shows in the output's size or digest.
  if (Status closed = output.Close(file); !closed) {
    return std::unexpected(fmt::format(
        "installed {} is not the version the delta was made from ({})", file.path, closed.error()));
  }
  return {};
}

Status Application::Patch(const DeltaFile& file, CheckedOutput& output) {
  auto index = EntryOf(file);
  if (!index) return std::unexpected(std::move(index.error()));
  const std::optional<archive::ZipEntryStat> stat = reader_.Stat(*index);
  if (!stat) return std::unexpected(fmt::format("can't read entry {}", EntryNameOf(file)));
  if (Status admitted =
          entryLimits_.Admit(EntryNameOf(file), stat->compressedSize, stat->uncompressedSize);
      !admitted) {
    return admitted;
  }
  auto source = Installed(file);
  if (!source) return std::unexpected(std::move(source.error()));

  // zstd reads the prefix from memory: the old file is held whole (at most 500 MiB), the
  // new one streams out through the decoder's window.
  std::vector<uint8_t> old(static_cast<size_t>(file.oldSize));
  std::ifstream in(core::LongPath(*source), std::ios::binary);
  in.read(reinterpret_cast<char*>(old.data()), static_cast<std::streamsize>(old.size()));
  core::Sha256 hasher;
  hasher.Update(old.data(), static_cast<size_t>(in.gcount()));
  if (static_cast<uint64_t>(in.gcount()) != file.oldSize ||
      !core::DigestsMatch(core::ToHex(hasher), file.oldSha256)) {
    return std::unexpected(
        fmt::format("installed {} is not the version the delta was made from", file.path));
  }

  PatchDecoder decoder;
  const auto failed = [&file](const std::string& why) {
    return std::unexpected(fmt::format("patch for {}: {}", file.path, why));
  };
  if (auto begun = decoder.Begin(
          old, file.size,
          [&output](const uint8_t* data, size_t size) { return output.Write(data, size); });
      !begun) {
    return failed(begun.error());
  }
  std::string decodeError;
  const auto extracted = reader_.Extract(*index, [&](const void* data, size_t size) -> size_t {
    auto fed = decoder.Feed(data, size);
    if (fed) return size;
    decodeError = std::move(fed.error());
    return 0;
  });
  if (!decodeError.empty()) return failed(decodeError);
  if (!extracted) return failed("its entry can't be read");
  if (auto finished = decoder.Finish(); !finished) return failed(finished.error());
  return output.Close(file);
}

Status Application::Extract(const DeltaFile& file, CheckedOutput& output) {
  auto index = EntryOf(file);
  if (!index) return std::unexpected(std::move(index.error()));
  const std::optional<archive::ZipEntryStat> stat = reader_.Stat(*index);
  if (!stat) return std::unexpected(fmt::format("can't read entry {}", EntryNameOf(file)));
  if (stat->uncompressedSize != file.size) {
    return std::unexpected(fmt::format("{} comes out with {} bytes instead of {}", file.path,
                                       stat->uncompressedSize, file.size));
  }
  if (Status admitted =
          entryLimits_.Admit(EntryNameOf(file), stat->compressedSize, stat->uncompressedSize);
      !admitted) {
    return admitted;
  }
  const auto extracted = reader_.Extract(*index, [&output](const void* data, size_t size) {
    return output.Write(data, size) ? size : 0;
  });
  if (!extracted) return std::unexpected(fmt::format("failed to extract {}", EntryNameOf(file)));
  return output.Close(file);
}

Status Application::MakeFile(const DeltaFile& file) {
  if (Status admitted = outputLimits_.Admit(file.path, 0, file.size); !admitted) return admitted;
  const fs::path target = staging_ / core::PathFromUtf8(file.path);
  const fs::path folder = target.parent_path();
  if (folder != lastFolder_) {
    std::error_code error;
    fs::create_directories(core::LongPath(folder), error);
    if (error) {
      return std::unexpected(
          fmt::format("can't create {}: {}", core::PathToUtf8(folder), error.message()));
    }
    lastFolder_ = folder;
  }
  CheckedOutput output(target);
  if (!output.IsOpen()) {
    return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(target)));
  }
  switch (file.source) {
    case FileSource::Copy:
      ++report_.copied;
      return Copy(file, output);
    case FileSource::Patch:
      ++report_.patched;
      return Patch(file, output);
    case FileSource::Whole:
      ++report_.whole;
      return Extract(file, output);
  }
  return std::unexpected("unknown file source");
}

std::expected<ApplyReport, std::string> Application::Run() {
  if (Status opened = OpenPackage(); !opened) return std::unexpected(opened.error());
  if (Status read = ReadList(); !read) return std::unexpected(read.error());
  if (Status matched = MatchEntries(); !matched) return std::unexpected(matched.error());

  std::error_code error;
  fs::create_directories(core::LongPath(staging_), error);
  if (error) {
    return std::unexpected(
        fmt::format("can't create {}: {}", core::PathToUtf8(staging_), error.message()));
  }
  uint64_t total = 0;
  for (const DeltaFile& file : list_.files) total += file.size;
  const fs::space_info space = fs::space(core::LongPath(staging_), error);
  if (!error && space.available < total) {
    return std::unexpected(fmt::format("not enough disk space (need {} MiB, have {} MiB)",
                                       total >> 20, space.available >> 20));
  }
  const uint64_t count = list_.files.size();
  for (uint64_t done = 0; done < count; ++done) {
    if (options_.cancelled && options_.cancelled()) return std::unexpected("cancelled");
    const DeltaFile& file = list_.files[done];
    if (Status made = MakeFile(file); !made) return std::unexpected(made.error());
    report_.bytes += file.size;
    if (options_.progress) options_.progress(done + 1, count);
  }
  core::LogFormat(core::LogLevel::Info,
                  "Applied delta {} to {}: {} copied, {} patched, {} whole, {} bytes",
                  core::PathToUtf8(delta_), core::PathToUtf8(staging_), report_.copied,
                  report_.patched, report_.whole, report_.bytes);
  return report_;
}

}  // namespace

std::expected<ApplyReport, std::string> ApplyDelta(const fs::path& installed, const fs::path& delta,
                                                   const fs::path& staging,
                                                   const ApplyOptions& options) {
  // Out of memory (a patch's old file is held whole), or a throwing callback, ends as text.
  return core::CallReturningText(fmt::format("failed to apply {}", core::PathToUtf8(delta)), [&] {
    return Application(installed, delta, staging, options).Run();
  });
}

}  // namespace kestrivon::delta
