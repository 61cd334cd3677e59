#include "core/manifest_signature.h"

#include <algorithm>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "core/file_digest.h"

namespace kestrivon::core {
namespace {

constexpr size_t kKeyIdDigits = 16;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsLowerHex(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// Printable ASCII and line ends only: anything else is not a file our publisher wrote.
bool IsText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return c == '\n' || c == '\r' || (c >= ' ' && c <= '~'); });
}

std::expected<SignatureLine, std::string> ParseLine(std::string_view line, size_t number) {
  std::vector<std::string_view> fields;
  for (size_t at = 0; at <= line.size();) {
    const size_t space = std::min(line.find(' ', at), line.size());
    fields.push_back(line.substr(at, space - at));
    at = space + 1;
  }
  if (fields.size() != 3 || fields[0] != signatureAlgorithm) {
    return std::unexpected(fmt::format("signature line {} is not \"{} <key id> <signature>\"",
                                       number, signatureAlgorithm));
  }
  if (fields[1].size() != kKeyIdDigits || !IsLowerHex(fields[1])) {
    return std::unexpected(fmt::format("signature line {} has a key id that is not {} hex digits",
                                       number, kKeyIdDigits));
  }
  SignatureLine parsed;
  parsed.keyId = std::string(fields[1]);
  if (fields[2].size() != 2 * parsed.signature.size()) {
    return std::unexpected(fmt::format("signature line {} has {} signature digits, expected {}",
                                       number, fields[2].size(), 2 * parsed.signature.size()));
  }
  if (!FromHex(fields[2], parsed.signature)) {
    return std::unexpected(fmt::format("signature line {} is not hexadecimal", number));
  }
  return parsed;
}

}  // namespace

std::string HexOf(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

bool FromHex(std::string_view text, std::span<uint8_t> out) {
  if (text.size() != out.size() * 2) return false;
  for (size_t at = 0; at < out.size(); ++at) {
    const int high = HexValue(text[2 * at]);
    const int low = HexValue(text[2 * at + 1]);
    if (high < 0 || low < 0) return false;
    out[at] = static_cast<uint8_t>(high * 16 + low);
  }
  return true;
}

std::string KeyId(const EcPoint& key) {
  Sha256 hasher;
  hasher.Update(key.data(), key.size());
  return ToHex(hasher).substr(0, kKeyIdDigits);
}

std::expected<std::vector<SignatureLine>, std::string> ParseSignatureFile(std::string_view text) {
  if (text.empty()) return std::unexpected(std::string("signature file is empty"));
  if (text.size() > maxSignatureFileBytes) {
    return std::unexpected(
        fmt::format("signature file is larger than {} bytes", maxSignatureFileBytes));
  }
  if (!IsText(text)) return std::unexpected(std::string("signature file is not ASCII text"));

  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  if (lines.empty() || lines.front() != signatureHeader) {
    return std::unexpected(
        fmt::format("signature file does not begin with \"{}\"", signatureHeader));
  }
  if (lines.size() == 1) return std::unexpected(std::string("signature file holds no signature"));
  if (lines.size() - 1 > maxSignatureLines) {
    return std::unexpected(
        fmt::format("signature file holds more than {} signatures", maxSignatureLines));
  }
  std::vector<SignatureLine> parsed;
  for (size_t at = 1; at < lines.size(); ++at) {
    auto line = ParseLine(lines[at], at + 1);
    if (!line) return std::unexpected(std::move(line.error()));
    parsed.push_back(std::move(*line));
  }
  return parsed;
}

std::string FormatSignatureFile(const std::vector<SignatureLine>& lines) {
  std::string text = std::string(signatureHeader) + "\n";
  for (const SignatureLine& line : lines) {
    text += fmt::format("{} {} {}\n", signatureAlgorithm, line.keyId, HexOf(line.signature));
  }
  return text;
}

std::expected<std::string, std::string> CheckManifestSignature(std::string_view manifest,
                                                               std::string_view signatureFile,
                                                               const ManifestTrust& trust) {
  auto lines = ParseSignatureFile(signatureFile);
  if (!lines) return std::unexpected(std::move(lines.error()));
  std::vector<std::string> failed;
  std::vector<std::string> unknown;
  for (const SignatureLine& line : *lines) {
    const auto key = std::find_if(trust.keys.begin(), trust.keys.end(),
                                  [&](const EcPoint& point) { return KeyId(point) == line.keyId; });
    if (key == trust.keys.end()) {
      unknown.push_back(line.keyId);
    } else if (trust.verifier != nullptr &&
               trust.verifier->Verify(*key, manifest, line.signature)) {
      return line.keyId;
    } else {
      failed.push_back(line.keyId);
    }
  }
  if (!failed.empty()) {
    return std::unexpected(fmt::format("the signature by key {} does not match the manifest",
                                       fmt::join(failed, ", ")));
  }
  return std::unexpected(fmt::format("no signature by a key built into this program (signed by {})",
                                     fmt::join(unknown, ", ")));
}

std::expected<void, std::string> CheckSerial(uint64_t serial, uint64_t highestSeen) {
  if (serial < highestSeen) {
    return std::unexpected(
        fmt::format("manifest serial {} is older than {} already seen", serial, highestSeen));
  }
  return {};
}

}  // namespace kestrivon::core
