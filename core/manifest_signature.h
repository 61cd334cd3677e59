#pragma once

// The detached signature of the manifest: its small text file, the check against the keys
// built into the program, and the serial that refuses a rolled-back release.
//
// File (ASCII, lines end in "\n" or "\r\n"):
//   kestrivon-signature 1
//   ecdsa-p256 <key id: 16 hex digits> <r||s: 128 hex digits>
//   ... (one line per key, at most maxSignatureLines)
// The key id is the first 8 bytes of SHA-256 over the public key's X||Y, in hex.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::core {

inline constexpr size_t maxSignatureFileBytes = 65'536;
inline constexpr size_t maxSignatureLines = 16;
inline constexpr std::string_view signatureHeader = "kestrivon-signature 1";
inline constexpr std::string_view signatureAlgorithm = "ecdsa-p256";

using EcPoint = std::array<uint8_t, 64>;      // X||Y of a P-256 public key, big-endian
using EcSignature = std::array<uint8_t, 64>;  // r||s, big-endian

struct SignatureLine {
  std::string keyId;
  EcSignature signature{};
};

// ECDSA P-256 over the SHA-256 of a message; one implementation per platform's library.
class SignatureVerifier {
 public:
  virtual ~SignatureVerifier() = default;
  // False also when the key is not a point of the curve.
  virtual bool Verify(const EcPoint& key, std::string_view message,
                      const EcSignature& signature) const = 0;
};

// Keys the updater trusts and the library that checks with them. No keys: nothing is checked.
struct ManifestTrust {
  std::span<const EcPoint> keys;
  const SignatureVerifier* verifier = nullptr;
};

// Lower-case hexadecimal; decoding takes either case and needs exactly 2 * out.size() digits.
std::string HexOf(std::span<const uint8_t> bytes);
bool FromHex(std::string_view text, std::span<uint8_t> out);

std::string KeyId(const EcPoint& key);

// The keys fixed at build time (cache variable KESTRIVON_MANIFEST_KEYS); defined by the
// generated library each program links.
std::span<const EcPoint> BuiltInManifestKeys();

std::expected<std::vector<SignatureLine>, std::string> ParseSignatureFile(std::string_view text);
std::string FormatSignatureFile(const std::vector<SignatureLine>& lines);

// The id of the first built-in key whose signature verifies over `manifest`, or why none does.
std::expected<std::string, std::string> CheckManifestSignature(std::string_view manifest,
                                                               std::string_view signatureFile,
                                                               const ManifestTrust& trust);

// Equal passes: the same release may be served again.
std::expected<void, std::string> CheckSerial(uint64_t serial, uint64_t highestSeen);

}  // namespace kestrivon::core
