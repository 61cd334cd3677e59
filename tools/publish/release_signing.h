#pragma once

// Manifest signing keys on the release engineer's machine: key pairs, signatures and the
// detached signature file the updater checks.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/manifest_signature.h"
#include "core/update_records.h"

namespace kestrivon::publish {

// Beside the manifest on the CDN.
inline constexpr std::string_view kSignaturePath = "launcher/launcher-manifest.json.sig";
inline constexpr std::string_view kPrivateKeyName = "manifest-signing.key";
inline constexpr std::string_view kPublicKeyName = "manifest-signing.pub";

// Writes DIR/manifest-signing.key (PKCS#8 PEM, mode 0600) and DIR/manifest-signing.pub (PEM)
// for a fresh P-256 key; neither file may exist. Returns the public key.
std::expected<core::EcPoint, std::string> GenerateKeyPair(const std::filesystem::path& folder);

// A PEM public key, or a PEM private key whose public half is meant.
std::expected<core::EcPoint, std::string> ReadPublicKey(const std::filesystem::path& file);

// One signature line per private key (PEM), over the exact bytes of `manifest`.
std::expected<std::string, std::string> SignManifest(
    std::string_view manifest, const std::vector<std::filesystem::path>& privateKeys);

struct SignatureCheck {
  std::string keyId;  // the first key whose signature verified
  uint64_t serial = 0;
};

// The release's signature file checked against `publicKeys` the way the updater checks it.
std::expected<SignatureCheck, std::string> CheckReleaseSignature(
    const std::filesystem::path& root, const std::vector<core::EcPoint>& publicKeys);

// The serial a new release gets: `serial` when given (never below the previous release's),
// else one more than the previous release's, else 1.
std::expected<uint64_t, std::string> ChooseSerial(std::optional<uint64_t> serial,
                                                  const std::filesystem::path& previous);

// Signs the manifest in `root` with every key and writes the signature file beside it.
std::expected<void, std::string> SignRelease(const std::filesystem::path& root,
                                             const std::vector<std::filesystem::path>& keys);

// The serial of the release in `root` (0 when its manifest has none).
std::expected<uint64_t, std::string> ReleaseSerial(const std::filesystem::path& root);

// The manifest of a release folder, read as the updater reads it.
std::expected<core::Manifest, std::string> ReadReleaseManifest(const std::filesystem::path& root);

}  // namespace kestrivon::publish
