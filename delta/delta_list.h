#pragma once

// The file list of a delta package: every file of the new version of a component, its size
// and SHA-256, and how it is made from the installed version. The publisher writes it, the
// updater reads it; both take the entry names and rules from here.
//
// A delta package is a ZIP archive holding:
//   delta.json          this list
//   patch/<path>        for each patched file: one zstd frame made against the installed
//                       file of the same path (its bytes as the prefix)
//   file/<path>         for each file carried whole: the new file itself
// Copied files have no entry: the installed file is taken as it is.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::delta {

inline constexpr std::string_view kListEntry = "delta.json";
inline constexpr std::string_view kPatchPrefix = "patch/";
inline constexpr std::string_view kWholePrefix = "file/";
// The manifest's "format" of a delta this program can apply, and the list's own "format".
inline constexpr std::string_view kDeltaFormat = "zstd-files-1";
// A list of the extractor's 100,000 entries with long paths stays below this.
inline constexpr uint64_t kMaxListBytes = 32 * 1024 * 1024;
// The largest zstd window a patch may ask for: 1 GiB covers an old and a new file of the
// extractor's 500 MiB each. A frame asking for more is refused before it allocates.
inline constexpr int kMaxPatchWindowLog = 30;

enum class FileSource : uint8_t {
  Copy = 0,   // the installed file, unchanged
  Patch = 1,  // patch/<path> decoded against the installed file
  Whole = 2,  // file/<path>
};

struct DeltaFile {
  std::string path;  // '/'-separated, already in the extractor's normal form
  uint64_t size = 0;
  std::string sha256;  // of the new file, 64 hexadecimal digits
  FileSource source = FileSource::Copy;
  // The installed file that a copy or a patch reads: the same as the new one for a copy.
  uint64_t oldSize = 0;
  std::string oldSha256;
};

struct DeltaList {
  std::vector<DeltaFile> files;
};

// The ZIP entry that carries a patched or whole file; empty for a copy.
std::string EntryNameOf(const DeltaFile& file);

// The window a patch of `oldSize` bytes into `newSize` bytes is made with: the whole old file
// and the output in reach, at most kMaxPatchWindowLog.
int PatchWindowLog(uint64_t oldSize, uint64_t newSize);

// Strict: a list with anything wrong in it is refused whole, with the reason. Paths follow the
// extractor's rules (a path it would skip or refuse is refused here), two paths may not name
// one file or a file and a folder, sizes stay within the extractor's per-entry limit.
std::expected<DeltaList, std::string> ParseDeltaList(std::string_view text);

// The list as the publisher writes it; ParseDeltaList reads it back unchanged.
std::string SerializeDeltaList(const DeltaList& list);

}  // namespace kestrivon::delta
