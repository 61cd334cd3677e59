#pragma once

// Builds a release folder: one deterministic ZIP package per component and the manifest that
// names them, checked the way the updater will take them before anything is published.
//
// Layout, relative to the folder the CDN serves as its root:
//   launcher/launcher-manifest.json
//   launcher/packages/{launcher,jre,updater}-{version}-{first 12 digits of the SHA-256}.zip
// A package's name changes with its content, so caches never serve an old file under it.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/publish/package_input.h"
#include "tools/publish/release_deltas.h"

namespace kestrivon::publish {

struct ComponentInput {
  std::filesystem::path source;  // empty: the component is not published
  std::string version;
  // Optional mirror on a vendor host; "{file}" in it stands for the package's file name. The
  // mirror must serve the very bytes of the package.
  std::string vendorUrl;
};

struct BuildOptions {
  ComponentInput launcher;  // required
  ComponentInput runtime;
  ComponentInput updater;
  std::string updaterName = std::string(kDefaultUpdaterName);
  std::string cdnBase;  // empty: "https://" + the CDN host of this build
  std::filesystem::path output;
  // PEM private keys; with any, the manifest carries a serial and is signed by each.
  std::vector<std::filesystem::path> signingKeys;
  std::optional<uint64_t> serial;  // default: one more than the first previous one's, else 1
  // Earlier releases, the one this one replaces first: each gets a delta to this one for
  // every component whose package changed, when it saves enough.
  std::vector<std::filesystem::path> previous;
  std::ostream* progress = nullptr;
  bool progressIsTerminal = false;
};

struct PublishedPackage {
  std::string component;  // the manifest's key
  std::string version;
  std::string path;  // relative to the output folder, '/'-separated
  std::string url;
  std::string vendorUrl;
  std::string sha256;
  uint64_t size = 0;
  uint64_t files = 0;
  uint64_t inputBytes = 0;
  double packSeconds = 0;
  double checkSeconds = 0;  // hashing and extracting as the updater does
  std::vector<MadeDelta> deltas{};
};

struct BuildReport {
  std::vector<PublishedPackage> packages;
  std::vector<std::string> leftOut;        // litter not packed
  std::vector<std::string> deltasSkipped;  // earlier releases that got no delta, and why
  std::string keyIds;                      // the keys that signed, ", "-separated; empty: unsigned
  uint64_t serial = 0;
  double seconds = 0;
};

// The updater's version rule (three dot-separated numbers, anything after the third), limited
// to characters that are safe in a file name and a URL path.
std::expected<void, std::string> CheckVersion(std::string_view what, std::string_view version);

// An HTTPS URL on one of `hosts`, spelled as the updater compares it. With `hostOnly` nothing
// but an optional '/' may follow the host; otherwise a path must.
std::expected<void, std::string> CheckUrl(std::string_view what, std::string_view url,
                                          const std::vector<std::string_view>& hosts,
                                          bool hostOnly);

// Writes into a folder beside `output` and renames it at the end: on any refusal nothing is
// left behind and `output` does not exist.
std::expected<BuildReport, std::string> BuildRelease(const BuildOptions& options);

}  // namespace kestrivon::publish
