#include "tools/publish/release_build.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <system_error>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "core/file_digest.h"
#include "core/manifest.h"
#include "core/path_utf8.h"
#include "core/verified_download.h"
#include "tools/publish/progress.h"
#include "tools/publish/release_check.h"
#include "tools/publish/release_signing.h"
#include "tools/publish/tree_pack.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Status = std::expected<void, std::string>;

constexpr size_t kMaxVersionLength = 64;
constexpr std::string_view kPackagesPath = "launcher/packages";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The folder beside the output that everything is written into first; gone on every path
// unless released.
class Staging {
 public:
  explicit Staging(const fs::path& output)
      : path_(output.parent_path() /
              fmt::format(".{}.partial-{}", core::PathToUtf8(output.filename()), getpid())) {}
  ~Staging() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;

  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// One component on its way into the release.
struct Pending {
  std::string component{};  // manifest key and package stem
  const ComponentInput* input = nullptr;
  InputTree tree{};
  PublishedPackage published{};
};

// The files of the tree as they should come out of the updater's extraction.
std::map<std::string, uint64_t> ExpectedFiles(const Pending& pending) {
  std::map<std::string, uint64_t> files;
  for (const InputEntry& entry : pending.tree.entries) {
    if (entry.directory) continue;
    std::string name = entry.name;
    if (pending.component == "jre") name.erase(0, name.find('/') + 1);
    files.emplace(std::move(name), entry.size);
  }
  return files;
}

Status CompareExtracted(const Pending& pending, const fs::path& extracted) {
  std::map<std::string, uint64_t> expected = ExpectedFiles(pending);
  std::error_code error;
  for (fs::recursive_directory_iterator it(extracted, error), end; !error && it != end;
       it.increment(error)) {
    if (!it->is_regular_file()) continue;
    const std::string name = core::PathToUtf8(it->path().lexically_relative(extracted));
    const auto found = expected.find(name);
    if (found == expected.end() || found->second != it->file_size()) {
      return std::unexpected(fmt::format("{} package: {} comes out of extraction unlike its input",
                                         pending.component, name));
    }
    expected.erase(found);
  }
  if (error) return std::unexpected(fmt::format("can't list {}", core::PathToUtf8(extracted)));
  if (!expected.empty()) {
    return std::unexpected(fmt::format("{} package: {} is missing after extraction",
                                       pending.component, expected.begin()->first));
  }
  return {};
}

std::string ManifestText(const std::vector<Pending>& pending, std::optional<uint64_t> serial) {
  nlohmann::ordered_json platform = nlohmann::ordered_json::object();
  for (const Pending& item : pending) {
    nlohmann::ordered_json entry;
    entry["version"] = item.published.version;
    entry["url"] = item.published.url;
    if (!item.published.vendorUrl.empty()) entry["vendorUrl"] = item.published.vendorUrl;
    entry["sha256"] = item.published.sha256;
    entry["size"] = item.published.size;
    for (const MadeDelta& delta : item.published.deltas) {
      nlohmann::ordered_json element;
      element["fromSha256"] = delta.info.fromSha256;
      element["url"] = delta.info.url;
      element["size"] = delta.info.size;
      element["sha256"] = delta.info.sha256;
      element["format"] = delta.info.format;
      entry["deltas"].push_back(std::move(element));
    }
    platform[item.component] = std::move(entry);
  }
  nlohmann::ordered_json document;
  if (serial) document["serial"] = *serial;
  document[std::string(core::PlatformKey())] = std::move(platform);
  return document.dump(2) + "\n";
}

std::string Replace(std::string text, std::string_view from, std::string_view to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

}  // namespace

Status CheckVersion(std::string_view what, std::string_view version) {
  if (version.empty()) return std::unexpected(fmt::format("{} version is empty", what));
  size_t at = 0;
  bool numbers = true;
  for (int run = 0; run < 3 && numbers; ++run) {
    if (run > 0) numbers = at < version.size() && version[at++] == '.';
    const size_t start = at;
    while (at < version.size() && IsDigit(version[at])) ++at;
    numbers = numbers && at > start;
  }
  if (!numbers) {
    return std::unexpected(fmt::format(
        "{} version \"{}\" does not begin with three dot-separated numbers (like 1.4.2 or "
        "1.4.2-beta1)",
        what, version));
  }
  if (version.size() > kMaxVersionLength ||
      version.find_first_not_of("0123456789abcdefghijklmnopqrstuvwxyz"
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZ._+-") != std::string_view::npos) {
    return std::unexpected(fmt::format(
        "{} version \"{}\" must be at most {} letters, digits and . _ + - (it names files)", what,
        version, kMaxVersionLength));
  }
  return {};
}

Status CheckUrl(std::string_view what, std::string_view url,
                const std::vector<std::string_view>& hosts, bool hostOnly) {
  constexpr std::string_view kScheme = "https://";
  if (!url.starts_with(kScheme)) {
    return std::unexpected(fmt::format("{} {} is not an HTTPS URL", what, url));
  }
  const std::string_view rest = url.substr(kScheme.size());
  const std::string_view host = rest.substr(0, rest.find_first_of("/?#"));
  if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) {
    return std::unexpected(
        fmt::format("{} {} names the host \"{}\", but the updater of this build accepts only {}",
                    what, url, host, fmt::join(hosts, " or ")));
  }
  const std::string_view path = rest.substr(host.size());
  if (url.find_first_of(" \t\r\n\"\\") != std::string_view::npos) {
    return std::unexpected(fmt::format("{} {} holds a space, a quote or a backslash", what, url));
  }
  if (hostOnly && !path.empty() && path != "/") {
    return std::unexpected(fmt::format(
        "{} {} must be just https://{}: the manifest's place on it is fixed", what, url, host));
  }
  if (!hostOnly && (path.size() < 2 || path[0] != '/')) {
    return std::unexpected(fmt::format("{} {} names no file", what, url));
  }
  return {};
}

namespace {

// The inputs the options name, checked and collected, in package order.
std::expected<std::vector<Pending>, std::string> CollectInputs(const BuildOptions& options,
                                                               const fs::path& output) {
  const std::vector<std::string_view> vendorHosts(core::allowedVendorHosts.begin(),
                                                  core::allowedVendorHosts.end());
  std::vector<Pending> pending;
  for (auto [component, label, input] : {std::tuple{"launcher", "launcher", &options.launcher},
                                         std::tuple{"jre", "runtime", &options.runtime},
                                         std::tuple{"updater", "updater", &options.updater}}) {
    if (input->source.empty()) continue;
    if (Status ok = CheckVersion(label, input->version); !ok) return std::unexpected(ok.error());
    if (!input->vendorUrl.empty()) {
      const std::string what = fmt::format("{} vendor URL", label);
      if (Status ok = CheckUrl(what, input->vendorUrl, vendorHosts, false); !ok) {
        return std::unexpected(ok.error());
      }
    }
    pending.push_back({.component = component, .input = input});
  }
  for (Pending& item : pending) {
    // A release inside an input would be packed into the next one.
    fs::path source = fs::absolute(item.input->source).lexically_normal();
    if (!source.has_filename()) source = source.parent_path();
    const auto mismatch = std::mismatch(source.begin(), source.end(), output.begin(), output.end());
    if (mismatch.first == source.end()) {
      return std::unexpected(fmt::format("output {} lies inside the input {}",
                                         core::PathToUtf8(output), core::PathToUtf8(source)));
    }
    auto tree = item.component == "launcher" ? CollectLauncher(item.input->source)
                : item.component == "jre"    ? CollectRuntime(item.input->source)
                                          : CollectUpdater(item.input->source, options.updaterName);
    if (!tree) return std::unexpected(std::move(tree.error()));
    item.tree = std::move(*tree);
  }
  return pending;
}

// Packs each input into `packages` under its final name (the digest in it) and fills in what
// the manifest says of it.
Status PackAll(std::vector<Pending>& pending, const fs::path& packages, std::string_view cdnBase,
               const BuildOptions& options, BuildReport& report) {
  std::error_code error;
  for (Pending& item : pending) {
    const fs::path archive = packages / (item.component + ".zip");
    const std::string label = item.component == "jre" ? "runtime" : item.component;
    const Clock::time_point packStart = Clock::now();
    if (Status packed = PackTree(item.tree, archive, fmt::format("Packing {}", label),
                                 options.progress, options.progressIsTerminal);
        !packed) {
      return packed;
    }
    auto digest = core::Sha256File(archive, {});
    if (!digest) return std::unexpected(digest.error());
    PublishedPackage& published = item.published;
    published.component = item.component;
    published.version = item.input->version;
    const std::string fileName =
        fmt::format("{}-{}-{}.zip", item.component, item.input->version, digest->substr(0, 12));
    published.path = fmt::format("{}/{}", kPackagesPath, fileName);
    published.url = fmt::format(
        "{}/{}", cdnBase.ends_with('/') ? cdnBase.substr(0, cdnBase.size() - 1) : cdnBase,
        published.path);
    published.vendorUrl = Replace(item.input->vendorUrl, "{file}", fileName);
    published.sha256 = *digest;
    published.size = fs::file_size(archive, error);
    published.files = item.tree.files;
    published.inputBytes = item.tree.bytes;
    fs::rename(archive, packages / fileName, error);
    if (error) return std::unexpected(fmt::format("can't name {}: {}", fileName, error.message()));
    published.packSeconds = std::chrono::duration<double>(Clock::now() - packStart).count();
    report.leftOut.insert(report.leftOut.end(), item.tree.leftOut.begin(), item.tree.leftOut.end());
  }
  return {};
}

// Deltas from the earlier releases to the launcher and the runtime, beside their packages.
Status AddDeltas(std::vector<Pending>& pending, const fs::path& site, const fs::path& scratch,
                 const BuildOptions& options, BuildReport& report) {
  if (options.previous.empty()) return {};
  for (Pending& item : pending) {
    if (item.component == "updater") continue;
    PublishedPackage& published = item.published;
    const DeltaRequest request{.component = item.component,
                               .version = published.version,
                               .package = site / core::PathFromUtf8(published.path),
                               .sha256 = published.sha256,
                               .size = published.size,
                               .previous = options.previous};
    auto outcome = MakeDeltas(request, site, published.url, scratch);
    if (!outcome) return std::unexpected(std::move(outcome.error()));
    published.deltas = std::move(outcome->made);
    report.deltasSkipped.insert(report.deltasSkipped.end(), outcome->skipped.begin(),
                                outcome->skipped.end());
  }
  std::error_code error;
  fs::remove_all(scratch, error);
  return {};
}

// Signs the release in `site` when keys are given, then takes it as the updater would: every
// package extracted and compared with its input, every signature checked.
Status SignAndCheck(const fs::path& site, const fs::path& scratch, std::vector<Pending>& pending,
                    const BuildOptions& options, BuildReport& report) {
  CheckOptions check;
  check.scratch = scratch;
  check.updaterName = options.updaterName;
  check.previous = options.previous;
  check.progress = options.progress;
  check.progressIsTerminal = options.progressIsTerminal;
  check.inspect = [&](std::string_view component, const fs::path& extracted) -> Status {
    for (const Pending& item : pending) {
      if (item.component == component) return CompareExtracted(item, extracted);
    }
    return {};
  };
  if (!options.signingKeys.empty()) {
    if (Status done = SignRelease(site, options.signingKeys); !done) return done;
  }
  auto checked = CheckRelease(site, check);
  if (checked && !options.signingKeys.empty()) {
    std::vector<core::EcPoint> keys;
    for (const fs::path& key : options.signingKeys) {
      auto point = ReadPublicKey(key);
      if (!point) return std::unexpected(point.error());
      keys.push_back(*point);
      report.keyIds += (report.keyIds.empty() ? "" : ", ") + core::KeyId(*point);
    }
    if (auto verified = CheckReleaseSignature(site, keys); !verified) {
      checked = std::unexpected(std::move(verified.error()));
    }
  }
  if (!checked) {
    return std::unexpected(
        fmt::format("the release fails the updater's checks: {}", checked.error()));
  }
  for (Pending& item : pending) {
    for (const CheckedPackage& package : *checked) {
      if (package.component == item.component) {
        item.published.checkSeconds = package.hashSeconds + package.extractSeconds;
      }
    }
    report.packages.push_back(item.published);
  }
  return {};
}

}  // namespace

std::expected<BuildReport, std::string> BuildRelease(const BuildOptions& options) {
  const Clock::time_point start = Clock::now();
  if (options.output.empty()) return std::unexpected("no output folder given");
  fs::path output = fs::absolute(options.output).lexically_normal();
  if (!output.has_filename()) output = output.parent_path();  // "release/"
  std::error_code error;
  if (fs::exists(fs::symlink_status(output, error))) {
    return std::unexpected(fmt::format("output {} already exists; publish into a new folder",
                                       core::PathToUtf8(output)));
  }
  if (options.launcher.source.empty()) return std::unexpected("no launcher folder given");

  const std::string cdnBase =
      options.cdnBase.empty() ? fmt::format("https://{}", core::cdnHost) : options.cdnBase;
  if (Status ok = CheckUrl("CDN base URL", cdnBase, {core::cdnHost}, true); !ok)
    return std::unexpected(ok.error());
  std::optional<uint64_t> serial;  // only a release that asks for one carries it
  if (!options.signingKeys.empty() || options.serial || !options.previous.empty()) {
    auto chosen =
        ChooseSerial(options.serial, options.previous.empty() ? fs::path() : options.previous[0]);
    if (!chosen) return std::unexpected(std::move(chosen.error()));
    serial = *chosen;
  }
  auto pending = CollectInputs(options, output);
  if (!pending) return std::unexpected(std::move(pending.error()));

  // Everything is made in a hidden folder beside the output and renamed at the end.
  fs::create_directories(output.parent_path(), error);
  Staging staging(output);
  fs::remove_all(staging.path(), error);
  const fs::path site = staging.path() / "site";
  const fs::path packages = site / core::PathFromUtf8(kPackagesPath);
  fs::create_directories(packages, error);
  if (error) {
    return std::unexpected(
        fmt::format("can't create {}: {}", core::PathToUtf8(packages), error.message()));
  }
  BuildReport report;
  if (Status packed = PackAll(*pending, packages, cdnBase, options, report); !packed) {
    return std::unexpected(std::move(packed.error()));
  }
  if (Status made = AddDeltas(*pending, site, staging.path() / "deltas", options, report); !made) {
    return std::unexpected(std::move(made.error()));
  }
  const fs::path manifest = site / core::PathFromUtf8(kManifestPath);
  report.serial = serial.value_or(0);
  {
    std::ofstream out(manifest, std::ios::binary | std::ios::trunc);
    out << ManifestText(*pending, serial);
    if (!out.flush()) {
      return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(manifest)));
    }
  }
  if (Status checked = SignAndCheck(site, staging.path() / "scratch", *pending, options, report);
      !checked) {
    return std::unexpected(std::move(checked.error()));
  }

  // A folder that appeared meanwhile is never replaced (rename would take an empty one).
  if (fs::exists(fs::symlink_status(output, error))) {
    return std::unexpected(fmt::format("output {} appeared while publishing; nothing replaced",
                                       core::PathToUtf8(output)));
  }
  fs::rename(site, output, error);
  if (error) {
    return std::unexpected(
        fmt::format("can't move the release to {}: {}", core::PathToUtf8(output), error.message()));
  }
  report.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return report;
}

}  // namespace kestrivon::publish
