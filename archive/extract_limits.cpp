#include "archive/extract_limits.h"

#include <fmt/format.h>

namespace kestrivon::archive {
namespace {

constexpr uint64_t MiB(uint64_t bytes) { return bytes >> 20; }

}  // namespace

std::expected<void, std::string> CheckArchiveSize(uint64_t size, std::string_view archivePath) {
  if (size > kMaxArchiveSize) {
    return std::unexpected(fmt::format("archive too large ({} MiB): {}", MiB(size), archivePath));
  }
  return {};
}

std::expected<void, std::string> CheckDiskSpace(uint64_t archiveSize, uint64_t freeBytes) {
  // The archive is at most 2 GiB, so the product cannot overflow.
  const uint64_t needed = kDiskSpaceFactor * archiveSize;
  if (freeBytes < needed) {
    return std::unexpected(fmt::format("not enough disk space (need {} MiB, have {} MiB)",
                                       MiB(needed), MiB(freeBytes)));
  }
  return {};
}

std::expected<void, std::string> CheckEntryCount(uint64_t count, std::string_view archivePath) {
  if (count == 0) return std::unexpected(fmt::format("archive is empty: {}", archivePath));
  if (count > kMaxEntries) {
    return std::unexpected(fmt::format("archive has too many entries ({})", count));
  }
  return {};
}

std::expected<void, std::string> EntryLimits::Admit(std::string_view entryPath,
                                                    uint64_t compressedSize,
                                                    uint64_t uncompressedSize) {
  if (uncompressedSize > kMaxEntrySize) {
    return std::unexpected(
        fmt::format("entry too large ({} MiB): {}", MiB(uncompressedSize), entryPath));
  }
  if (compressedSize != 0 && uncompressedSize / compressedSize > kMaxCompressionRatio) {
    return std::unexpected(fmt::format("suspicious compression ratio for {}", entryPath));
  }
  // Each entry is at most 500 MiB and the total stops at 3 GiB: no overflow.
  total_ += uncompressedSize;
  if (total_ > kMaxTotalSize) {
    return std::unexpected(fmt::format("extracted size exceeds {} MiB", MiB(kMaxTotalSize)));
  }
  return {};
}

}  // namespace kestrivon::archive
