#include "tools/publish/release_check.h"

#include <array>
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

#include <fmt/format.h>

#include "archive/extract_zip.h"
#include "core/ascii.h"
#include "core/file_digest.h"
#include "core/manifest.h"
#include "core/path_utf8.h"
#include "core/verified_download.h"
#include "tools/publish/package_input.h"
#include "tools/publish/progress.h"
#include "tools/publish/release_deltas.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Status = std::expected<void, std::string>;

// Packages at least this large show extraction steps, not only the closing line.
constexpr uint64_t kLongExtraction = 32'000'000;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

bool IsRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(path, error)) && !error;
}

// The updater takes only its executable and its "app" folder from a launcher package, and
// refuses a package with anything else: anything else would land beside (or over) what the
// updater keeps in the install folder.
Status CheckLauncherTop(const fs::path& extracted) {
  std::error_code error;
  for (const auto& item : fs::directory_iterator(extracted, error)) {
    const std::string name = core::PathToUtf8(item.path().filename());
    const bool own = item.is_directory(error)
                         ? core::EqualsIgnoringAsciiCase(name, "app")
                         : core::EqualsIgnoringAsciiCase(name, kLauncherExecutable);
    if (!own) {
      return std::unexpected(
          fmt::format("launcher package holds {}, which is not part of the launcher", name));
    }
  }
  if (error) return std::unexpected(fmt::format("can't list {}", core::PathToUtf8(extracted)));
  if (!IsRegularFile(extracted / kLauncherExecutable)) {
    return std::unexpected(
        fmt::format("launcher package has no {} at its top", kLauncherExecutable));
  }
  return {};
}

Status CheckPackage(const fs::path& root, const CheckOptions& options, CheckedPackage& package) {
  const core::UpdateInfo& entry = package.entry;
  if (!core::IsValidEntry(entry)) {
    return std::unexpected(fmt::format("the updater refuses the {} entry", package.component));
  }
  auto file = LocalFileOf(root, entry.url);
  if (!file) return std::unexpected(std::move(file.error()));
  package.file = *file;

  // The updater's integrity check: size first, then the digest.
  std::error_code error;
  const uint64_t size = fs::file_size(*file, error);
  if (error || size != entry.size) {
    return std::unexpected(
        fmt::format("{}: size {} != expected {}", entry.url, error ? 0 : size, entry.size));
  }
  const Clock::time_point hashStart = Clock::now();
  ProgressLine hashing(options.progress, options.progressIsTerminal,
                       fmt::format("Hashing {} package", package.component), size);
  uint64_t polls = 0;
  // The digest polls its stop predicate before each 1 MiB read: a free progress tick.
  const auto digest = core::Sha256File(*file, [&] {
    hashing.Update(std::min<uint64_t>(size, polls++ << 20));
    return false;
  });
  hashing.Update(size);
  hashing.Finish();
  package.hashSeconds = SecondsSince(hashStart);
  if (!digest) return std::unexpected(fmt::format("{}: {}", entry.url, digest.error()));
  if (!core::DigestsMatch(*digest, entry.sha256)) {
    return std::unexpected(
        fmt::format("{}: sha256 {} != expected {}", entry.url, *digest, entry.sha256));
  }

  // Extracted as the updater installs it: the runtime without its top-level folder, the
  // updater's package for its one executable, the launcher as it is.
  const fs::path scratch = options.scratch / package.component;
  fs::remove_all(scratch, error);
  archive::ExtractOptions extract;
  extract.stripTopLevelFolder = package.component == "jre";
  if (package.component == "updater") extract.onlyFile = options.updaterName;
  std::optional<ProgressLine> extracting;
  extract.progress = [&](uint64_t files, uint64_t entries) {
    if (!extracting) {
      // The entry count includes folders: the bar may stop short of 100 %.
      extracting.emplace(options.progress, options.progressIsTerminal,
                         fmt::format("Extracting {} package", package.component), entries,
                         ProgressUnit::Files, size >= kLongExtraction);
    }
    extracting->Update(files);
    package.extractedFiles = files;
  };
  const Clock::time_point extractStart = Clock::now();
  Status status = archive::ExtractZip(*file, scratch, extract);
  package.extractSeconds = SecondsSince(extractStart);
  if (extracting && status) extracting->Finish();
  if (!status && status.error().starts_with("not enough disk space")) {
    // This machine's disk, not the package: say so rather than blame the release.
    status = std::unexpected(fmt::format("can't extract the {} package here to check it: {}",
                                         package.component, status.error()));
  } else if (!status) {
    status = std::unexpected(fmt::format("{} package: {}", package.component, status.error()));
  } else if (package.component == "launcher") {
    status = CheckLauncherTop(scratch);
  } else if (package.component == "jre" && !IsRegularFile(scratch / "bin" / "java.exe")) {
    status = std::unexpected("runtime package: bin\\java.exe not found after extraction");
  } else if (package.component == "updater" && !IsRegularFile(scratch / options.updaterName)) {
    status =
        std::unexpected(fmt::format("The updater package doesn't contain {}", options.updaterName));
  }
  if (status && options.inspect) status = options.inspect(package.component, scratch);
  for (const core::DeltaInfo& delta : entry.deltas) {
    if (!status) break;
    auto checked =
        CheckDelta(root, package.component, delta, scratch, options.previous, options.scratch);
    if (!checked) {
      status = std::unexpected(fmt::format("{} delta: {}", package.component, checked.error()));
    } else {
      ++(*checked ? package.deltasApplied : package.deltasUnchecked);
    }
  }
  fs::remove_all(scratch, error);
  return status;
}

}  // namespace

std::expected<fs::path, std::string> LocalFileOf(const fs::path& root, std::string_view url) {
  const std::string prefix = fmt::format("https://{}/", core::cdnHost);
  if (!url.starts_with(prefix)) {
    return std::unexpected(fmt::format("{} is not a file on {}", url, core::cdnHost));
  }
  const std::string_view path = url.substr(prefix.size());
  // Plain paths only: what a static file server maps one to one onto the folder.
  bool plain = !path.empty() && path.find_first_of("?#%\\") == std::string_view::npos;
  for (size_t start = 0; plain && start <= path.size();) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view component = path.substr(start, end - start);
    plain = !component.empty() && component != "." && component != "..";
    start = end + 1;
  }
  if (!plain) return std::unexpected(fmt::format("{} is not a plain file path", url));
  return root / core::PathFromUtf8(path);
}

std::expected<std::vector<CheckedPackage>, std::string> CheckRelease(const fs::path& root,
                                                                     const CheckOptions& options) {
  const fs::path manifestFile = root / core::PathFromUtf8(kManifestPath);
  std::error_code error;
  const uint64_t manifestSize = fs::file_size(manifestFile, error);
  if (error) {
    return std::unexpected(fmt::format("can't read {}", core::PathToUtf8(manifestFile)));
  }
  if (manifestSize > kMaxManifestBytes) {
    return std::unexpected(fmt::format("the manifest is {} bytes; the updater reads at most {}",
                                       manifestSize, kMaxManifestBytes));
  }
  std::ifstream in(manifestFile, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto manifest = core::ParseManifest(text, core::PlatformKey());
  if (!manifest) {
    return std::unexpected(fmt::format("the updater refuses the manifest: {}", manifest.error()));
  }

  std::vector<CheckedPackage> packages;
  for (auto [component, entry] :
       {std::pair{"launcher", &manifest->launcher}, std::pair{"jre", &manifest->jre},
        std::pair{"updater", &manifest->updater}}) {
    if (!entry->present) continue;
    CheckedPackage package{.component = component, .entry = *entry};
    if (Status checked = CheckPackage(root, options, package); !checked) {
      return std::unexpected(std::move(checked.error()));
    }
    packages.push_back(std::move(package));
  }
  return packages;
}

}  // namespace kestrivon::publish
