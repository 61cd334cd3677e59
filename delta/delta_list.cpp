#include "delta/delta_list.h"

#include <algorithm>
#include <bit>
#include <set>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "archive/entry_path.h"
#include "archive/extract_limits.h"
#include "core/ascii.h"
#include "core/escaped_text.h"
#include "core/json_read.h"

namespace kestrivon::delta {
namespace {

using Json = nlohmann::json;

constexpr std::string_view kSourceNames[] = {"copy", "patch", "whole"};

bool IsDigest(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
         });
}

std::optional<uint64_t> SizeOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end() || !found->is_number_unsigned()) return std::nullopt;
  const uint64_t size = found->get<uint64_t>();
  if (size > archive::kMaxEntrySize) return std::nullopt;
  return size;
}

std::expected<void, std::string> CheckPath(std::string_view path) {
  std::string normalized;
  const archive::EntryPathVerdict verdict = archive::NormalizeEntryPath(path, normalized);
  if (verdict == archive::EntryPathVerdict::Unusable) {
    return std::unexpected(fmt::format("reserved name in delta list: {}", core::EscapeText(path)));
  }
  // Only the normal form is accepted: a path the extractor would rewrite or leave out could
  // mean another file to the updater than to the publisher.
  if (verdict != archive::EntryPathVerdict::Accept || normalized != path ||
      path.size() > archive::kMaxEntryPathLength || !archive::IsUtf8PathText(path)) {
    return std::unexpected(fmt::format("unsafe path in delta list: {}", core::EscapeText(path)));
  }
  return {};
}

std::expected<DeltaFile, std::string> ParseFile(const Json& item) {
  if (!item.is_object()) return std::unexpected("malformed delta list: a file is not an object");
  DeltaFile file;
  file.path = core::StringMember(item, "path");
  if (auto checked = CheckPath(file.path); !checked) return std::unexpected(checked.error());
  const std::string escaped = core::EscapeText(file.path);
  const auto size = SizeOf(item, "size");
  file.sha256 = core::StringMember(item, "sha256");
  const std::string source = core::StringMember(item, "source");
  const auto named = std::find(std::begin(kSourceNames), std::end(kSourceNames), source);
  if (!size || !IsDigest(file.sha256) || named == std::end(kSourceNames)) {
    return std::unexpected(fmt::format("malformed delta list entry for {}", escaped));
  }
  file.size = *size;
  file.source = static_cast<FileSource>(named - std::begin(kSourceNames));
  if (file.source == FileSource::Patch) {
    const auto oldSize = SizeOf(item, "oldSize");
    file.oldSha256 = core::StringMember(item, "oldSha256");
    if (!oldSize || !IsDigest(file.oldSha256)) {
      return std::unexpected(fmt::format("malformed delta list entry for {}", escaped));
    }
    file.oldSize = *oldSize;
  } else if (file.source == FileSource::Copy) {
    file.oldSize = file.size;
    file.oldSha256 = file.sha256;
  }
  return file;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), core::AsciiLower);
  return lower;
}

// Two files of one name where letter case does not count, or a file where another path
// needs a folder, would make the result depend on the order of writing.
std::expected<void, std::string> CheckConflicts(const std::vector<DeltaFile>& files) {
  std::set<std::string, std::less<>> names;
  for (const DeltaFile& file : files) {
    if (!names.insert(Lower(file.path)).second) {
      return std::unexpected(
          fmt::format("conflicting path in delta list: {}", core::EscapeText(file.path)));
    }
  }
  for (const DeltaFile& file : files) {
    const std::string lower = Lower(file.path);
    for (size_t slash = lower.find('/'); slash != std::string::npos;
         slash = lower.find('/', slash + 1)) {
      if (names.contains(std::string_view(lower).substr(0, slash))) {
        return std::unexpected(
            fmt::format("conflicting path in delta list: {}", core::EscapeText(file.path)));
      }
    }
  }
  return {};
}

}  // namespace

std::string EntryNameOf(const DeltaFile& file) {
  switch (file.source) {
    case FileSource::Patch:
      return std::string(kPatchPrefix) + file.path;
    case FileSource::Whole:
      return std::string(kWholePrefix) + file.path;
    case FileSource::Copy:
      break;
  }
  return {};
}

int PatchWindowLog(uint64_t oldSize, uint64_t newSize) {
  // Each is at most 500 MiB (the list's limit), so the sum cannot overflow.
  const int needed = static_cast<int>(std::bit_width(oldSize + newSize));
  return std::clamp(needed, 10, kMaxPatchWindowLog);
}

std::expected<DeltaList, std::string> ParseDeltaList(std::string_view text) {
  auto document = core::ParseJson(text);
  if (!document) return std::unexpected(fmt::format("malformed delta list: {}", document.error()));
  if (!document->is_object()) return std::unexpected("malformed delta list: not an object");
  const std::string format = core::StringMember(*document, "format");
  if (format != kDeltaFormat) {
    return std::unexpected(fmt::format("unknown delta format \"{}\"", core::EscapeText(format)));
  }
  const auto files = document->find("files");
  if (files == document->end() || !files->is_array() || files->empty() ||
      files->size() > archive::kMaxEntries) {
    return std::unexpected("malformed delta list: no files, or too many");
  }
  DeltaList list;
  list.files.reserve(files->size());
  for (const Json& item : *files) {
    auto file = ParseFile(item);
    if (!file) return std::unexpected(std::move(file.error()));
    list.files.push_back(std::move(*file));
  }
  if (auto checked = CheckConflicts(list.files); !checked) return std::unexpected(checked.error());
  return list;
}

std::string SerializeDeltaList(const DeltaList& list) {
  // The reader's own JSON type: no second instantiation of the library in the program.
  Json files = Json::array();
  for (const DeltaFile& file : list.files) {
    Json item;
    item["path"] = file.path;
    item["size"] = file.size;
    item["sha256"] = file.sha256;
    item["source"] = kSourceNames[static_cast<size_t>(file.source)];
    if (file.source == FileSource::Patch) {
      item["oldSize"] = file.oldSize;
      item["oldSha256"] = file.oldSha256;
    }
    files.push_back(std::move(item));
  }
  Json document;
  document["format"] = kDeltaFormat;
  document["files"] = std::move(files);
  return document.dump(1) + "\n";
}

}  // namespace kestrivon::delta
