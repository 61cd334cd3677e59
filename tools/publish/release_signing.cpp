#include "tools/publish/release_signing.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include <fmt/format.h>

#include "core/ecdsa_openssl.h"
#include "core/manifest.h"
#include "core/openssl_owners.h"
#include "core/path_utf8.h"
#include "tools/publish/release_check.h"

namespace kestrivon::publish {
namespace {

namespace fs = std::filesystem;

using core::DigestOwner;
using core::PkeyOwner;
using core::SigOwner;
using FileOwner = std::unique_ptr<FILE, core::FreeWith<fclose>>;

std::expected<core::EcPoint, std::string> PointOf(const EVP_PKEY* key, const fs::path& file) {
  char group[32] = {};
  unsigned char encoded[65] = {};
  size_t length = 0;
  if (EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, group, sizeof group,
                                     nullptr) != 1 ||
      std::string_view(group) != "prime256v1" ||
      EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded,
                                      &length) != 1 ||
      length != sizeof encoded || encoded[0] != 0x04) {
    return std::unexpected(fmt::format("{} is not a P-256 key", core::PathToUtf8(file)));
  }
  core::EcPoint point;
  std::copy(encoded + 1, encoded + 65, point.begin());
  return point;
}

// Owner-only from the first byte: the private key is never readable by anyone else.
std::expected<FileOwner, std::string> CreateFile(const fs::path& file, mode_t mode) {
  const int descriptor = open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
  FILE* stream = descriptor < 0 ? nullptr : fdopen(descriptor, "w");
  if (stream == nullptr) {
    if (descriptor >= 0) close(descriptor);
    return std::unexpected(
        fmt::format("can't create {} (it must not exist yet)", core::PathToUtf8(file)));
  }
  return FileOwner(stream);
}

std::expected<PkeyOwner, std::string> ReadPrivateKey(const fs::path& file) {
  const FileOwner stream(fopen(file.c_str(), "r"));
  if (!stream) return std::unexpected(fmt::format("can't read {}", core::PathToUtf8(file)));
  PkeyOwner key(PEM_read_PrivateKey(stream.get(), nullptr, nullptr, nullptr));
  if (!key) {
    return std::unexpected(fmt::format("{} is not a PEM private key", core::PathToUtf8(file)));
  }
  return key;
}

std::expected<core::EcSignature, std::string> Sign(EVP_PKEY* key, std::string_view message) {
  const DigestOwner digest(EVP_MD_CTX_new());
  unsigned char der[80] = {};
  size_t length = sizeof der;
  if (!digest || EVP_DigestSignInit(digest.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(digest.get(), der, &length,
                     reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
    return std::unexpected(std::string("signing failed"));
  }
  const unsigned char* at = der;
  const SigOwner sig(d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(length)));
  core::EcSignature signature{};
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature.data(), 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32, 32) != 32) {
    return std::unexpected(std::string("signing gave no P-256 signature"));
  }
  return signature;
}

// At most `limit` bytes of `file`; larger files are refused, as the updater refuses them.
std::expected<std::string, std::string> ReadSmallFile(const fs::path& file, uint64_t limit) {
  std::error_code error;
  const uint64_t size = fs::file_size(file, error);
  if (error) return std::unexpected(fmt::format("can't read {}", core::PathToUtf8(file)));
  if (size > limit) {
    return std::unexpected(fmt::format("{} is {} bytes; the updater reads at most {}",
                                       core::PathToUtf8(file), size, limit));
  }
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

std::expected<core::Manifest, std::string> ReadReleaseManifest(const fs::path& root) {
  auto text = ReadSmallFile(root / core::PathFromUtf8(kManifestPath), kMaxManifestBytes);
  if (!text) return std::unexpected(text.error());
  auto manifest = core::ParseManifest(*text, core::PlatformKey());
  if (!manifest) {
    return std::unexpected(
        fmt::format("the manifest in {} is refused: {}", core::PathToUtf8(root), manifest.error()));
  }
  return manifest;
}

std::expected<uint64_t, std::string> ReleaseSerial(const fs::path& root) {
  auto manifest = ReadReleaseManifest(root);
  if (!manifest) return std::unexpected(std::move(manifest.error()));
  return manifest->serial;
}

std::expected<uint64_t, std::string> ChooseSerial(std::optional<uint64_t> serial,
                                                  const fs::path& previous) {
  uint64_t last = 0;
  if (!previous.empty()) {
    auto found = ReleaseSerial(previous);
    if (!found) return std::unexpected(found.error());
    last = *found;
  }
  if (!serial) return last + 1;
  if (*serial < last) {
    return std::unexpected(fmt::format(
        "serial {} is below {} of the previous release: updaters that saw it would refuse this one",
        *serial, last));
  }
  return *serial;
}

std::expected<void, std::string> SignRelease(const fs::path& root,
                                             const std::vector<fs::path>& keys) {
  auto manifest = ReadSmallFile(root / core::PathFromUtf8(kManifestPath), kMaxManifestBytes);
  if (!manifest) return std::unexpected(manifest.error());
  auto signature = SignManifest(*manifest, keys);
  if (!signature) return std::unexpected(signature.error());
  const fs::path file = root / core::PathFromUtf8(kSignaturePath);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << *signature;
  if (!out.flush()) return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(file)));
  return {};
}

std::expected<SignatureCheck, std::string> CheckReleaseSignature(
    const fs::path& root, const std::vector<core::EcPoint>& publicKeys) {
  auto manifest = ReadSmallFile(root / core::PathFromUtf8(kManifestPath), kMaxManifestBytes);
  if (!manifest) return std::unexpected(manifest.error());
  auto signature =
      ReadSmallFile(root / core::PathFromUtf8(kSignaturePath), core::maxSignatureFileBytes);
  if (!signature) return std::unexpected(signature.error());
  const core::OpenSslVerifier verifier;
  auto keyId = core::CheckManifestSignature(*manifest, *signature, {publicKeys, &verifier});
  if (!keyId)
    return std::unexpected(fmt::format("the updater refuses the signature: {}", keyId.error()));
  auto serial = ReleaseSerial(root);
  if (!serial) return std::unexpected(serial.error());
  if (*serial == 0) return std::unexpected(std::string("the signed manifest has no serial"));
  return SignatureCheck{std::move(*keyId), *serial};
}

std::expected<core::EcPoint, std::string> GenerateKeyPair(const fs::path& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  const PkeyOwner key(EVP_EC_gen("P-256"));
  if (!key) return std::unexpected(std::string("key generation failed"));
  const fs::path privateFile = folder / kPrivateKeyName;
  const fs::path publicFile = folder / kPublicKeyName;
  if (fs::exists(publicFile, error)) {
    return std::unexpected(fmt::format("{} already exists", core::PathToUtf8(publicFile)));
  }
  auto privateStream = CreateFile(privateFile, 0600);
  if (!privateStream) return std::unexpected(privateStream.error());
  if (PEM_write_PrivateKey(privateStream->get(), key.get(), nullptr, nullptr, 0, nullptr,
                           nullptr) != 1 ||
      fflush(privateStream->get()) != 0) {
    return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(privateFile)));
  }
  auto publicStream = CreateFile(publicFile, 0644);
  if (!publicStream) return std::unexpected(publicStream.error());
  if (PEM_write_PUBKEY(publicStream->get(), key.get()) != 1 || fflush(publicStream->get()) != 0) {
    return std::unexpected(fmt::format("can't write {}", core::PathToUtf8(publicFile)));
  }
  return PointOf(key.get(), publicFile);
}

std::expected<core::EcPoint, std::string> ReadPublicKey(const fs::path& file) {
  const FileOwner stream(fopen(file.c_str(), "r"));
  if (!stream) return std::unexpected(fmt::format("can't read {}", core::PathToUtf8(file)));
  PkeyOwner key(PEM_read_PUBKEY(stream.get(), nullptr, nullptr, nullptr));
  if (!key) {
    rewind(stream.get());
    key.reset(PEM_read_PrivateKey(stream.get(), nullptr, nullptr, nullptr));
  }
  if (!key) return std::unexpected(fmt::format("{} is not a PEM key", core::PathToUtf8(file)));
  return PointOf(key.get(), file);
}

std::expected<std::string, std::string> SignManifest(std::string_view manifest,
                                                     const std::vector<fs::path>& privateKeys) {
  std::vector<core::SignatureLine> lines;
  for (const fs::path& file : privateKeys) {
    auto key = ReadPrivateKey(file);
    if (!key) return std::unexpected(key.error());
    auto point = PointOf(key->get(), file);
    if (!point) return std::unexpected(point.error());
    auto signature = Sign(key->get(), manifest);
    if (!signature) {
      return std::unexpected(fmt::format("{}: {}", core::PathToUtf8(file), signature.error()));
    }
    lines.push_back({core::KeyId(*point), *signature});
  }
  return core::FormatSignatureFile(lines);
}

}  // namespace kestrivon::publish
