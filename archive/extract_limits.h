#pragma once

// The fixed limits of safe extraction and their refusal texts.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace kestrivon::archive {

inline constexpr uint64_t kMaxArchiveSize = 2'147'483'648;  // 2 GiB
inline constexpr uint64_t kDiskSpaceFactor = 3;             // free space needed per archive byte
inline constexpr uint64_t kMaxEntries = 100'000;
inline constexpr size_t kMaxEntryPathLength = 1'024;
inline constexpr uint64_t kMaxEntrySize = 524'288'000;  // 500 MiB
inline constexpr uint64_t kMaxCompressionRatio = 100;
inline constexpr uint64_t kMaxTotalSize = 3'221'225'472;  // 3 GiB

std::expected<void, std::string> CheckArchiveSize(uint64_t size, std::string_view archivePath);
std::expected<void, std::string> CheckDiskSpace(uint64_t archiveSize, uint64_t freeBytes);
std::expected<void, std::string> CheckEntryCount(uint64_t count, std::string_view archivePath);

// Checks every file entry against the declared sizes before a byte of it is written, and
// keeps the running total of one extraction.
class EntryLimits {
 public:
  // Entry size, compression ratio, then the running total, in that order.
  std::expected<void, std::string> Admit(std::string_view entryPath, uint64_t compressedSize,
                                         uint64_t uncompressedSize);
  uint64_t Total() const { return total_; }

 private:
  uint64_t total_ = 0;
};

}  // namespace kestrivon::archive
