#pragma once

// A package download kept for a later attempt or a later run: the file in temp/ and a small
// record beside it that names what the bytes belong to.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/updater_host.h"

namespace kestrivon::core {

struct PartialRecord {
  std::string url;        // the source the bytes came from
  uint64_t size = 0;      // the manifest's size of the whole package
  std::string sha256;     // the manifest's digest of the whole package
  std::string validator;  // ETag or Last-Modified for If-Range
};

// Four "key=value" lines: url, size, sha256, validator.
std::string FormatPartialRecord(const PartialRecord& record);

// Empty unless the text is exactly what FormatPartialRecord writes, with an HTTPS URL, a size
// above 0, 64 hexadecimal digits and a validator that may go into a request header.
std::optional<PartialRecord> ParsePartialRecord(std::string_view text);

// package + ".resume".
std::filesystem::path PartialRecordPath(const std::filesystem::path& package);

// Whether the record describes this manifest entry (from either of its sources).
bool RecordNamesEntry(const PartialRecord& record, const UpdateInfo& entry);

// How many bytes of a kept file a transfer from `url` may continue from: the file's size when
// the record names this source and entry and the file is not longer than the package; else 0.
uint64_t ResumableLength(const std::optional<PartialRecord>& record, uint64_t fileSize,
                         const UpdateInfo& entry, std::string_view url);

// Empty when the record is missing, unreadable, over 4 KiB or malformed.
std::optional<PartialRecord> ReadPartialRecord(const std::filesystem::path& package);

// Written beside the package; a failure is logged and only costs the resume.
void WritePartialRecord(const std::filesystem::path& package, const PartialRecord& record);

// Removes the package and its record; missing files are no error.
void DiscardPartialDownload(const std::filesystem::path& package);

// Removes every kept partial download in root/"temp" that `wanted` does not claim, with its
// record.
void DiscardPartialDownloads(const std::filesystem::path& root,
                             const std::function<bool(const std::filesystem::path& package,
                                                      const PartialRecord& record)>& wanted);

}  // namespace kestrivon::core
