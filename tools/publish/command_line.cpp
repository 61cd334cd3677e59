#include "tools/publish/command_line.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <system_error>

#include <fmt/format.h>

#include "core/path_utf8.h"
#include "core/verified_download.h"
#include "tools/publish/progress.h"
#include "tools/publish/release_build.h"
#include "tools/publish/release_check.h"
#include "tools/publish/release_signing.h"
#include "tools/publish/sample_runtime.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage = R"(Usage:
  kestrivon-publish build --output DIR --launcher DIR --launcher-version VERSION
                          [--runtime DIR --runtime-version VERSION]
                          [--updater FILE --updater-version VERSION [--updater-name NAME]]
                          [--launcher-vendor-url URL] [--runtime-vendor-url URL]
                          [--updater-vendor-url URL] [--cdn-base URL]
                          [--signing-key KEY]... [--serial N] [--previous DIR]...
  kestrivon-publish verify DIR [--updater-name NAME] [--public-key KEY]... [--previous DIR]...
  kestrivon-publish keygen --output DIR
  kestrivon-publish sample-runtime DIR [--filler-mb N] [--java-exe FILE] [--top-level NAME]
                          [--seed N]

build      Packs the launcher folder (KestrivonLauncher.exe at its top), the Java runtime
           folder (bin/java.exe at its top or under its only folder) and the updater
           executable into deterministic ZIP packages, writes the manifest and checks the
           whole release as the updater will (manifest parser, entry rules, size, SHA-256,
           extraction under the updater's limits). DIR must not exist; it appears only when
           every check passed. DIR is the CDN's root:
             DIR/launcher/launcher-manifest.json
             DIR/launcher/packages/<component>-<version>-<sha256 prefix>.zip
           --cdn-base       https://<CDN host> (default https://{cdn})
           --updater-name   the installed updater's file name (default {updater})
           --*-vendor-url   a mirror on {vendor0} or {vendor1} serving the same bytes;
                            "{{file}}" in it becomes the package's file name
           Versions: three dot-separated numbers, optionally followed by letters, digits
           and . _ + - (e.g. 1.4.2 or 21.0.3+9).
           --signing-key    a PEM private key: the manifest gets a serial and is signed by
                            each key into launcher/launcher-manifest.json.sig
           --serial         the manifest's serial (default: one more than the serial of
                            the first --previous, the release this one replaces, else 1)
           --previous       an earlier release folder (repeatable, the last few): for the
                            launcher and the runtime, a delta package from its version to
                            this one is published beside the package when it saves at least
                            a quarter, after it was applied to the earlier version and
                            compared with the new one
verify     Checks a published folder against its manifest the same way; with --public-key
           (PEM) also its signature file and serial, as an updater with those keys does.
           Deltas are checked by size and SHA-256, and applied and compared when their
           source release is given with --previous.
keygen     Writes a new signing key pair: DIR/manifest-signing.key (private, mode 0600:
           keep it offline, never in a release or a repository) and
           DIR/manifest-signing.pub (built into the updater with KESTRIVON_MANIFEST_KEYS).
sample-runtime
           Writes a stand-in runtime: bin/java.exe (a copy of --java-exe, else a placeholder
           text), a release file and N MB (10^6 bytes) of filler in lib/. --seed varies the
           filler, --top-level puts everything below one folder.

Exit codes: 0 done, 1 refused or failed, 2 wrong usage.
)";

std::string Usage() {
  return fmt::format(fmt::runtime(kUsage), fmt::arg("cdn", core::cdnHost),
                     fmt::arg("updater", kDefaultUpdaterName),
                     fmt::arg("vendor0", core::allowedVendorHosts[0]),
                     fmt::arg("vendor1", core::allowedVendorHosts[1]));
}

struct Parsed {
  std::vector<std::string> positional;
  std::multimap<std::string, std::string> flags;
};

// "--name value" or "--name=value"; every flag takes a value.
std::expected<Parsed, std::string> Parse(const std::vector<std::string>& args, size_t from,
                                         const std::set<std::string>& known) {
  Parsed parsed;
  for (size_t at = from; at < args.size(); ++at) {
    const std::string& arg = args[at];
    if (!arg.starts_with("--")) {
      parsed.positional.push_back(arg);
      continue;
    }
    const size_t equals = arg.find('=');
    const std::string name = arg.substr(2, equals == std::string::npos ? equals : equals - 2);
    if (!known.contains(name)) return std::unexpected(fmt::format("unknown option --{}", name));
    if (equals != std::string::npos) {
      parsed.flags.emplace(name, arg.substr(equals + 1));
    } else if (at + 1 < args.size()) {
      parsed.flags.emplace(name, args[++at]);
    } else {
      return std::unexpected(fmt::format("--{} needs a value", name));
    }
  }
  return parsed;
}

// The last one given wins.
std::string Flag(const Parsed& parsed, const std::string& name, std::string fallback = {}) {
  const auto [first, last] = parsed.flags.equal_range(name);
  return first == last ? fallback : std::prev(last)->second;
}

std::vector<fs::path> Paths(const Parsed& parsed, const std::string& name) {
  std::vector<fs::path> paths;
  const auto [first, last] = parsed.flags.equal_range(name);
  for (auto at = first; at != last; ++at) paths.push_back(core::PathFromUtf8(at->second));
  return paths;
}

std::optional<uint64_t> Number(const std::string& text) {
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

int Build(const Parsed& parsed, std::ostream& out, std::ostream& err, bool terminal) {
  BuildOptions options;
  if (parsed.positional.size() > 0) {
    err << "build takes no positional arguments\n" << Usage();
    return 2;
  }
  for (auto [name, input] :
       {std::pair{"launcher", &options.launcher}, std::pair{"runtime", &options.runtime},
        std::pair{"updater", &options.updater}}) {
    const std::string source = Flag(parsed, name);
    input->source = core::PathFromUtf8(source);
    input->version = Flag(parsed, fmt::format("{}-version", name));
    input->vendorUrl = Flag(parsed, fmt::format("{}-vendor-url", name));
    if (source.empty() &&
        (parsed.flags.contains(fmt::format("{}-version", name)) || !input->vendorUrl.empty())) {
      err << fmt::format("--{0}-version and --{0}-vendor-url need --{0}\n", name);
      return 2;
    }
  }
  if (options.launcher.source.empty() || !parsed.flags.contains("output")) {
    err << "build needs --output and --launcher\n" << Usage();
    return 2;
  }
  options.output = core::PathFromUtf8(Flag(parsed, "output"));
  options.cdnBase = Flag(parsed, "cdn-base");
  options.updaterName = Flag(parsed, "updater-name", std::string(kDefaultUpdaterName));
  options.progress = &err;
  options.progressIsTerminal = terminal;
  options.signingKeys = Paths(parsed, "signing-key");
  options.previous = Paths(parsed, "previous");
  if (parsed.flags.contains("serial")) {
    options.serial = Number(Flag(parsed, "serial"));
    if (!options.serial) {
      err << "--serial takes a number\n";
      return 2;
    }
  }

  auto report = BuildRelease(options);
  if (!report) {
    err << "kestrivon-publish: " << report.error() << "\nNothing was published.\n";
    return 1;
  }
  std::vector<std::vector<std::string>> rows = {
      {"component", "version", "files", "input", "package", "pack s", "check s", "sha256", "path"}};
  uint64_t inputBytes = 0;
  double packSeconds = 0;
  for (const PublishedPackage& package : report->packages) {
    rows.push_back({package.component, package.version, std::to_string(package.files),
                    Megabytes(package.inputBytes), Megabytes(package.size),
                    fmt::format("{:.2f}", package.packSeconds),
                    fmt::format("{:.2f}", package.checkSeconds), package.sha256, package.path});
    inputBytes += package.inputBytes;
    packSeconds += package.packSeconds;
  }
  out << fmt::format("Published {} ({}):\n", Flag(parsed, "output"), kManifestPath)
      << FormatTable(rows)
      << fmt::format("Packed {} in {:.2f} s ({:.0f} MB/s); {:.2f} s in all.\n",
                     Megabytes(inputBytes), packSeconds,
                     packSeconds > 0 ? static_cast<double>(inputBytes) / packSeconds / 1e6 : 0,
                     report->seconds);
  if (!report->keyIds.empty()) {
    out << fmt::format("Manifest serial {}, signed by key {} (launcher-manifest.json.sig).\n",
                       report->serial, report->keyIds);
  } else {
    out << "The manifest is not signed: updaters built with keys will refuse it.\n";
  }
  for (const PublishedPackage& package : report->packages) {
    if (!package.vendorUrl.empty()) {
      out << fmt::format("Upload {} to {} before the manifest goes live.\n", package.path,
                         package.vendorUrl);
    }
  }
  for (const PublishedPackage& package : report->packages) {
    for (const MadeDelta& delta : package.deltas) {
      out << fmt::format(
          "Delta {} {} -> {}: {} ({:.1f} % of the package; {} copied, {} patched, {} whole; "
          "{:.2f} s)\n",
          package.component, delta.fromVersion, package.version, Megabytes(delta.info.size),
          100.0 * static_cast<double>(delta.info.size) / static_cast<double>(package.size),
          delta.copied, delta.patched, delta.whole, delta.seconds);
    }
  }
  for (const std::string& skipped : report->deltasSkipped) out << skipped << "\n";
  if (!report->leftOut.empty()) {
    out << fmt::format("Left out {} operating-system files (Thumbs.db and the like).\n",
                       report->leftOut.size());
  }
  return 0;
}

int Verify(const Parsed& parsed, std::ostream& out, std::ostream& err, bool terminal) {
  if (parsed.positional.size() != 1) {
    err << "verify takes one folder\n" << Usage();
    return 2;
  }
  const fs::path root = core::PathFromUtf8(parsed.positional[0]);
  std::error_code error;
  CheckOptions options;
  options.scratch = fs::temp_directory_path(error) /
                    fmt::format("kestrivon-publish-verify-{}", std::random_device()());
  options.updaterName = Flag(parsed, "updater-name", std::string(kDefaultUpdaterName));
  options.progress = &err;
  options.progressIsTerminal = terminal;
  options.previous = Paths(parsed, "previous");
  auto checked = CheckRelease(root, options);
  fs::remove_all(options.scratch, error);
  if (!checked) {
    err << "kestrivon-publish: " << parsed.positional[0] << " fails: " << checked.error() << "\n";
    return 1;
  }
  std::vector<std::vector<std::string>> rows = {{"component", "version", "size", "files", "hash s",
                                                 "extract s", "deltas", "url", "vendor mirror"}};
  for (const CheckedPackage& package : *checked) {
    rows.push_back(
        {package.component, package.entry.version, Megabytes(package.entry.size),
         std::to_string(package.extractedFiles), fmt::format("{:.2f}", package.hashSeconds),
         fmt::format("{:.2f}", package.extractSeconds),
         fmt::format("{} applied, {} unchecked", package.deltasApplied, package.deltasUnchecked),
         package.entry.url, package.entry.vendorUrl.empty() ? "-" : package.entry.vendorUrl});
  }
  std::string signature = "signature not checked (no --public-key)";
  if (const std::vector<fs::path> keys = Paths(parsed, "public-key"); !keys.empty()) {
    std::vector<core::EcPoint> points;
    for (const fs::path& key : keys) {
      auto point = ReadPublicKey(key);
      if (!point) {
        err << "kestrivon-publish: " << point.error() << "\n";
        return 1;
      }
      points.push_back(*point);
    }
    auto verified = CheckReleaseSignature(root, points);
    if (!verified) {
      err << "kestrivon-publish: " << parsed.positional[0] << " fails: " << verified.error()
          << "\n";
      return 1;
    }
    signature = fmt::format("manifest signature verified (key {}), serial {}", verified->keyId,
                            verified->serial);
  }
  out << fmt::format("{} passes every check of the updater, {}:\n", parsed.positional[0], signature)
      << FormatTable(rows);
  if (std::any_of(checked->begin(), checked->end(),
                  [](const CheckedPackage& package) { return !package.entry.vendorUrl.empty(); })) {
    out << "Vendor mirrors are not fetched: make sure they serve the same bytes.\n";
  }
  return 0;
}

int Keygen(const Parsed& parsed, std::ostream& out, std::ostream& err) {
  if (!parsed.positional.empty() || !parsed.flags.contains("output")) {
    err << "keygen needs --output and nothing else\n" << Usage();
    return 2;
  }
  const fs::path folder = core::PathFromUtf8(Flag(parsed, "output"));
  auto key = GenerateKeyPair(folder);
  if (!key) {
    err << "kestrivon-publish: " << key.error() << "\n";
    return 1;
  }
  out << fmt::format(
      "Wrote {0}/{1} (private: keep it offline) and {0}/{2}.\nKey id {3}; X||Y for "
      "KESTRIVON_MANIFEST_KEYS:\n{4}\n",
      Flag(parsed, "output"), kPrivateKeyName, kPublicKeyName, core::KeyId(*key),
      core::HexOf(*key));
  return 0;
}

int SampleRuntime(const Parsed& parsed, std::ostream& out, std::ostream& err) {
  if (parsed.positional.size() != 1) {
    err << "sample-runtime takes one folder\n" << Usage();
    return 2;
  }
  SampleRuntimeOptions options;
  options.folder = core::PathFromUtf8(parsed.positional[0]);
  const auto megabytes = Number(Flag(parsed, "filler-mb", "0"));
  const auto seed = Number(Flag(parsed, "seed", "1"));
  if (!megabytes || !seed || *megabytes > 100'000) {
    err << "--filler-mb and --seed take a number (at most 100000 MB)\n";
    return 2;
  }
  options.fillerBytes = *megabytes * 1'000'000;
  options.seed = *seed;
  options.javaExe = core::PathFromUtf8(Flag(parsed, "java-exe"));
  options.topLevel = Flag(parsed, "top-level");
  auto files = WriteSampleRuntime(options);
  if (!files) {
    err << "kestrivon-publish: " << files.error() << "\n";
    return 1;
  }
  out << fmt::format("Wrote {} files ({} of filler) to {}\n", *files,
                     Megabytes(options.fillerBytes), parsed.positional[0]);
  return 0;
}

}  // namespace

int RunPublish(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
               bool errIsTerminal) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    (args.empty() ? err : out) << Usage();
    return args.empty() ? 2 : 0;
  }
  static const std::map<std::string, std::set<std::string>> kFlags = {
      {"build",
       {"output", "launcher", "launcher-version", "launcher-vendor-url", "runtime",
        "runtime-version", "runtime-vendor-url", "updater", "updater-version", "updater-vendor-url",
        "updater-name", "cdn-base", "signing-key", "serial", "previous"}},
      {"verify", {"updater-name", "public-key", "previous"}},
      {"keygen", {"output"}},
      {"sample-runtime", {"filler-mb", "java-exe", "top-level", "seed"}}};
  const auto command = kFlags.find(args[0]);
  if (command == kFlags.end()) {
    err << fmt::format("unknown command {}\n", args[0]) << Usage();
    return 2;
  }
  if (std::find(args.begin(), args.end(), "--help") != args.end()) {
    out << Usage();
    return 0;
  }
  auto parsed = Parse(args, 1, command->second);
  if (!parsed) {
    err << parsed.error() << "\n" << Usage();
    return 2;
  }
  if (args[0] == "build") return Build(*parsed, out, err, errIsTerminal);
  if (args[0] == "verify") return Verify(*parsed, out, err, errIsTerminal);
  if (args[0] == "keygen") return Keygen(*parsed, out, err);
  return SampleRuntime(*parsed, out, err);
}

}  // namespace kestrivon::publish
