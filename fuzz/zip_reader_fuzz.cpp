// libFuzzer target: the ZIP reader over the input in memory, then the extractor on the same
// bytes as a file. Aborts when an entry yields more than its declared size, or when anything
// appears outside the extraction folder or touches the sentinel file beside it.

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "archive/extract_zip.h"
#include "archive/zip_reader.h"

namespace {

namespace fs = std::filesystem;
using kestrivon::archive::ZipReader;

constexpr std::string_view kSentinelText = "sentinel: must never change";

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
  std::fprintf(stderr, "FUZZ FAILURE: %s %s\n", what, detail.c_str());
  std::abort();
}

// <tmp>/kestrivon-fuzz-<pid>/jail/{archive.zip, out/, sentinel}: the jail must hold exactly
// these, and the root exactly the jail.
struct Workspace {
  fs::path root;
  fs::path jail;
  fs::path archive;
  fs::path out;
  fs::path sentinel;

  Workspace() {
    const char* base = std::getenv("KESTRIVON_FUZZ_TMP");
    root = fs::path(base != nullptr ? base : "/dev/shm") /
           ("kestrivon-fuzz-" + std::to_string(getpid()));
    jail = root / "jail";
    archive = jail / "archive.zip";
    out = jail / "out";
    sentinel = jail / "sentinel";
    fs::remove_all(root);
    fs::create_directories(jail);
    std::ofstream(sentinel, std::ios::binary) << kSentinelText;
  }
  ~Workspace() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

Workspace& Space() {
  static Workspace space;
  return space;
}

void CheckOnlyNames(const fs::path& folder, const std::set<std::string>& allowed) {
  for (const auto& item : fs::directory_iterator(folder)) {
    if (!allowed.contains(item.path().filename().string())) {
      Fail("written outside the folder:", item.path().string());
    }
  }
}

void ReadInMemory(const uint8_t* data, size_t size) {
  ZipReader reader;
  auto read = [data, size](uint64_t offset, void* buffer, size_t count) -> size_t {
    if (offset >= size) return 0;
    const size_t n = std::min<size_t>(count, size - static_cast<size_t>(offset));
    std::memcpy(buffer, data + offset, n);
    return n;
  };
  if (!reader.Open(read, size)) return;
  std::vector<char> name(ZipReader::kNameBufferSize);
  for (uint64_t i = 0; i < reader.EntryCount(); ++i) {
    if (const auto length = reader.EntryName(i, name); length && *length >= name.size()) {
      Fail("name not cut to the buffer");
    }
    (void)reader.IsDirectory(i);
    const auto stat = reader.Stat(i);
    uint64_t produced = 0;
    const auto result = reader.Extract(i, [&](const void*, size_t count) {
      produced += count;
      if (!stat || produced > stat->uncompressedSize) Fail("more than the declared size");
      return count;
    });
    if (result && produced != stat->uncompressedSize) Fail("size differs and reported success");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadInMemory(data, size);

  Workspace& space = Space();
  {
    std::ofstream file(space.archive, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::error_code error;
  fs::remove_all(space.out, error);
  (void)kestrivon::archive::ExtractZip(space.archive, space.out, {});
  kestrivon::archive::ExtractOptions strip;
  strip.stripTopLevelFolder = true;
  fs::remove_all(space.out, error);
  (void)kestrivon::archive::ExtractZip(space.archive, space.out, strip);

  CheckOnlyNames(space.root, {"jail"});
  CheckOnlyNames(space.jail, {"archive.zip", "out", "sentinel"});
  if (fs::is_symlink(space.sentinel) || fs::file_size(space.sentinel) != kSentinelText.size()) {
    Fail("sentinel changed");
  }
  std::ifstream sentinel(space.sentinel, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(sentinel)), std::istreambuf_iterator<char>());
  if (text != kSentinelText) Fail("sentinel changed");
  return 0;
}
