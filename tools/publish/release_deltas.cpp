#include "tools/publish/release_deltas.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "archive/extract_zip.h"
#include "core/ascii.h"
#include "core/file_digest.h"
#include "core/path_utf8.h"
#include "delta/delta_apply.h"
#include "delta/delta_list.h"
#include "tools/publish/delta_build.h"
#include "tools/publish/release_check.h"
#include "tools/publish/release_signing.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Status = std::expected<void, std::string>;
using Clock = std::chrono::steady_clock;

const core::UpdateInfo& EntryOf(const core::Manifest& manifest, std::string_view component) {
  return component == "jre" ? manifest.jre : manifest.launcher;
}

// A file of a release that must be what its manifest says it is.
Status CheckFile(const fs::path& file, std::string_view url, uint64_t size,
                 std::string_view sha256) {
  std::error_code error;
  const uint64_t actual = fs::file_size(file, error);
  if (error || actual != size) {
    return std::unexpected(
        fmt::format("{}: size {} != expected {}", url, error ? 0 : actual, size));
  }
  auto digest = core::Sha256File(file, {});
  if (!digest) return std::unexpected(fmt::format("{}: {}", url, digest.error()));
  if (!core::DigestsMatch(*digest, sha256)) {
    return std::unexpected(fmt::format("{}: sha256 {} != expected {}", url, *digest, sha256));
  }
  return {};
}

std::expected<fs::path, std::string> PackageOf(const fs::path& release,
                                               const core::UpdateInfo& entry) {
  auto file = LocalFileOf(release, entry.url);
  if (!file) return std::unexpected(std::move(file.error()));
  if (Status checked = CheckFile(*file, entry.url, entry.size, entry.sha256); !checked) {
    return std::unexpected(
        fmt::format("earlier release {}: {}", core::PathToUtf8(release), checked.error()));
  }
  return *file;
}

std::expected<std::vector<std::string>, std::string> RelativeFiles(const fs::path& root) {
  std::vector<std::string> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_directory()) files.push_back(it->path().lexically_relative(root).generic_string());
  }
  if (error) return std::unexpected(fmt::format("can't list {}", core::PathToUtf8(root)));
  std::sort(files.begin(), files.end());
  return files;
}

bool SameBytes(const fs::path& a, const fs::path& b) {
  std::ifstream left(a, std::ios::binary);
  std::ifstream right(b, std::ios::binary);
  std::vector<char> x(1 << 20);
  std::vector<char> y(1 << 20);
  while (left && right) {
    left.read(x.data(), static_cast<std::streamsize>(x.size()));
    right.read(y.data(), static_cast<std::streamsize>(y.size()));
    if (left.gcount() != right.gcount() ||
        !std::equal(x.begin(), x.begin() + left.gcount(), y.begin())) {
      return false;
    }
  }
  return left.eof() && right.eof();
}

// The delta's result must be the new package's extraction, file for file and byte for byte.
Status CompareTrees(const fs::path& made, const fs::path& expected) {
  auto madeFiles = RelativeFiles(made);
  auto expectedFiles = RelativeFiles(expected);
  if (!madeFiles) return std::unexpected(std::move(madeFiles.error()));
  if (!expectedFiles) return std::unexpected(std::move(expectedFiles.error()));
  if (*madeFiles != *expectedFiles) return std::unexpected("it makes other files than the package");
  for (const std::string& name : *madeFiles) {
    if (!SameBytes(made / name, expected / name)) {
      return std::unexpected(fmt::format("it makes {} unlike the package", name));
    }
  }
  return {};
}

// Builds the delta from one earlier package; nothing when it would not save enough.
std::expected<std::optional<MadeDelta>, std::string> MakeOne(const DeltaRequest& request,
                                                             const core::UpdateInfo& old,
                                                             const fs::path& oldPackage,
                                                             const fs::path& fresh,
                                                             const fs::path& scratch) {
  const Clock::time_point start = Clock::now();
  const fs::path oldTree = scratch / "old";
  const fs::path file = scratch / "delta.zip";
  std::error_code error;
  fs::remove_all(oldTree, error);
  if (Status done = ExtractAsInstalled(request.component, oldPackage, oldTree); !done) {
    return std::unexpected(done.error());
  }
  auto built = BuildDelta(oldTree, fresh, file);
  fs::remove_all(oldTree, error);
  if (!built) return std::unexpected(std::move(built.error()));
  if (static_cast<double>(built->size) >
      (1 - kMinDeltaSaving) * static_cast<double>(request.size)) {
    return std::nullopt;
  }
  auto digest = core::Sha256File(file, {});
  if (!digest) return std::unexpected(std::move(digest.error()));
  std::string from = old.sha256.substr(0, 12);
  std::transform(from.begin(), from.end(), from.begin(), core::AsciiLower);
  const std::string name = fmt::format("{}-{}-delta-{}-{}.zip", request.component, request.version,
                                       from, digest->substr(0, 12));
  const fs::path target = request.package.parent_path() / name;
  fs::rename(file, target, error);
  if (error) return std::unexpected(fmt::format("can't name {}: {}", name, error.message()));
  MadeDelta made;
  made.info = {.fromSha256 = old.sha256,
               .url = "",
               .sha256 = *digest,
               .size = built->size,
               .format = std::string(delta::kDeltaFormat)};
  made.fromVersion = old.version;
  made.path = core::PathToUtf8(target.filename());
  made.copied = built->copied;
  made.patched = built->patched;
  made.whole = built->whole;
  made.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return made;
}

}  // namespace

Status ExtractAsInstalled(std::string_view component, const fs::path& package,
                          const fs::path& folder) {
  archive::ExtractOptions options;
  options.stripTopLevelFolder = component == "jre";
  if (Status done = archive::ExtractZip(package, folder, options); !done) {
    return std::unexpected(
        fmt::format("can't extract {}: {}", core::PathToUtf8(package), done.error()));
  }
  return {};
}

std::expected<DeltaOutcome, std::string> MakeDeltas(const DeltaRequest& request,
                                                    const fs::path& site,
                                                    std::string_view packageUrl,
                                                    const fs::path& scratch) {
  DeltaOutcome outcome;
  const fs::path fresh = scratch / "new";
  std::vector<std::string> sources;
  for (const fs::path& release : request.previous) {
    auto manifest = ReadReleaseManifest(release);
    if (!manifest) return std::unexpected(std::move(manifest.error()));
    const core::UpdateInfo& old = EntryOf(*manifest, request.component);
    const std::string where = fmt::format("{} of {}", request.component, core::PathToUtf8(release));
    if (!old.present || core::DigestsMatch(old.sha256, request.sha256) ||
        std::find(sources.begin(), sources.end(), old.sha256) != sources.end()) {
      continue;  // nothing to patch from, nothing changed, or made already
    }
    sources.push_back(old.sha256);
    auto oldPackage = PackageOf(release, old);
    if (!oldPackage) return std::unexpected(std::move(oldPackage.error()));
    if (!fs::exists(fresh)) {
      if (Status done = ExtractAsInstalled(request.component, request.package, fresh); !done) {
        return std::unexpected(done.error());
      }
    }
    auto made = MakeOne(request, old, *oldPackage, fresh, scratch);
    if (!made) return std::unexpected(fmt::format("delta from {}: {}", where, made.error()));
    if (!*made) {
      outcome.skipped.push_back(fmt::format(
          "no delta from {} {}: it would save less than a quarter", where, old.version));
      continue;
    }
    MadeDelta& kept = **made;
    kept.info.url = fmt::format("{}/{}", packageUrl.substr(0, packageUrl.rfind('/')), kept.path);
    kept.path =
        core::PathToUtf8((request.package.parent_path() / kept.path).lexically_relative(site));
    outcome.made.push_back(std::move(kept));
  }
  std::error_code error;
  fs::remove_all(fresh, error);
  return outcome;
}

std::expected<bool, std::string> CheckDelta(const fs::path& root, std::string_view component,
                                            const core::DeltaInfo& delta, const fs::path& extracted,
                                            const std::vector<fs::path>& previous,
                                            const fs::path& scratch) {
  auto file = LocalFileOf(root, delta.url);
  if (!file) return std::unexpected(std::move(file.error()));
  if (Status checked = CheckFile(*file, delta.url, delta.size, delta.sha256); !checked) {
    return std::unexpected(checked.error());
  }
  if (delta.format != delta::kDeltaFormat) {
    return std::unexpected(fmt::format("{} is of format \"{}\", which this publisher can't check",
                                       delta.url, delta.format));
  }
  std::optional<fs::path> source;
  for (const fs::path& release : previous) {
    auto manifest = ReadReleaseManifest(release);
    if (!manifest) return std::unexpected(std::move(manifest.error()));
    const core::UpdateInfo& entry = EntryOf(*manifest, component);
    if (!entry.present || !core::DigestsMatch(entry.sha256, delta.fromSha256)) continue;
    auto package = PackageOf(release, entry);
    if (!package) return std::unexpected(std::move(package.error()));
    source = *package;
    break;
  }
  if (!source) return false;
  const fs::path from = scratch / "delta-from";
  const fs::path made = scratch / "delta-made";
  std::error_code error;
  Status status = ExtractAsInstalled(component, *source, from);
  if (status) {
    auto applied = delta::ApplyDelta(from, *file, made, {});
    status = applied ? CompareTrees(made, extracted) : std::unexpected(applied.error());
  }
  fs::remove_all(from, error);
  fs::remove_all(made, error);
  if (!status) return std::unexpected(fmt::format("{}: {}", delta.url, status.error()));
  return true;
}

}  // namespace kestrivon::publish
