#include "core/manifest_signature.h"

#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/serial_record.h"
#include "tests/support/ecdsa_vectors.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

// The same vectors through each platform's library: OpenSSL natively, BCrypt under Wine.
#ifdef _WIN32
#include "win/base/ecdsa_bcrypt.h"
using PlatformVerifier = kestrivon::win::BCryptVerifier;
#else
#include "core/ecdsa_openssl.h"
using PlatformVerifier = kestrivon::core::OpenSslVerifier;
#endif

namespace kestrivon::core {
namespace {

using testing::kEcdsaVectors;
using testing::kKeyA;
using testing::kKeyB;
using testing::kSignedText;

EcPoint Point(std::string_view hex) {
  EcPoint point{};
  EXPECT_TRUE(FromHex(hex, point)) << hex;
  return point;
}

EcSignature Signature(std::string_view hex) {
  EcSignature signature{};
  EXPECT_TRUE(FromHex(hex, signature)) << hex;
  return signature;
}

// The signature line of the first vector: kSignedText signed by key A.
std::string LineByA() {
  return fmt::format("ecdsa-p256 {} {}\n", KeyId(Point(kKeyA)), kEcdsaVectors[0].signature);
}

TEST(PlatformVerifier, AgreesWithTheSharedVectors) {
  const PlatformVerifier verifier;
  for (const auto& vector : kEcdsaVectors) {
    EXPECT_EQ(verifier.Verify(Point(vector.key), vector.message, Signature(vector.signature)),
              vector.valid)
        << vector.name;
  }
}

TEST(ParseSignatureFile, RefusesEveryMalformedFile) {
  const std::string header = "kestrivon-signature 1\n";
  const std::string id = KeyId(Point(kKeyA));
  const std::string sig(128, 'a');
  std::string many = header;
  for (int line = 0; line < 17; ++line) many += fmt::format("ecdsa-p256 {} {}\n", id, sig);
  const struct {
    std::string text;
    std::string error;
  } kCases[] = {
      {"", "signature file is empty"},
      {std::string(65'537, 'a'), "signature file is larger than 65536 bytes"},
      {header + std::string("\0", 1), "signature file is not ASCII text"},
      {header + "\xc3\xa9", "signature file is not ASCII text"},
      {header + "ecdsa-p256\t" + id + " " + sig, "signature file is not ASCII text"},
      {"kestrivon-signature 2\n", "signature file does not begin with \"kestrivon-signature 1\""},
      {"\n" + header, "signature file does not begin with \"kestrivon-signature 1\""},
      {header, "signature file holds no signature"},
      {many, "signature file holds more than 16 signatures"},
      {header + "ed25519 " + id + " " + sig,
       "signature line 2 is not \"ecdsa-p256 <key id> <signature>\""},
      {header + "ecdsa-p256  " + id + " " + sig,
       "signature line 2 is not \"ecdsa-p256 <key id> <signature>\""},
      {header + "\n", "signature line 2 is not \"ecdsa-p256 <key id> <signature>\""},
      {header + "ecdsa-p256 " + id.substr(1) + " " + sig,
       "signature line 2 has a key id that is not 16 hex digits"},
      {header + "ecdsa-p256 ABCDEF0123456789 " + sig,
       "signature line 2 has a key id that is not 16 hex digits"},
      {header + "ecdsa-p256 " + id + " " + sig + "a",
       "signature line 2 has 129 signature digits, expected 128"},
      {header + "ecdsa-p256 " + id + " " + sig.substr(2) + "g0",
       "signature line 2 is not hexadecimal"},
  };
  for (const auto& [text, error] : kCases) {
    const auto parsed = ParseSignatureFile(text);
    ASSERT_FALSE(parsed) << text.substr(0, 80);
    EXPECT_EQ(parsed.error(), error) << text.substr(0, 80);
  }

  // Windows line ends and a missing last line end are fine; upper-case signatures too.
  const auto parsed =
      ParseSignatureFile("kestrivon-signature 1\r\necdsa-p256 " + id + " " + std::string(128, 'F'));
  ASSERT_TRUE(parsed) << parsed.error();
  ASSERT_EQ(parsed->size(), 1u);
  EXPECT_EQ((*parsed)[0].keyId, id);
  EXPECT_EQ(FormatSignatureFile(*parsed),
            header + "ecdsa-p256 " + id + " " + std::string(128, 'f') + "\n");
}

TEST(CheckManifestSignature, AcceptsAnySignatureByABuiltInKey) {
  const PlatformVerifier verifier;
  const EcPoint a = Point(kKeyA);
  const EcPoint b = Point(kKeyB);
  const std::string header = "kestrivon-signature 1\n";
  const std::string byB = fmt::format("ecdsa-p256 {} {}\n", KeyId(b), kEcdsaVectors[3].signature);
  const std::string idA = KeyId(a);
  const std::string idB = KeyId(b);
  const struct {
    std::string name;
    std::vector<EcPoint> keys;
    std::string manifest;
    std::string file;
    std::string result;  // the key id, or the refusal
  } kCases[] = {
      {"good", {a}, std::string(kSignedText), header + LineByA(), idA},
      {"rotation: old key first, only the new one built in",
       {b},
       std::string(kSignedText),
       header + LineByA() + byB,
       idB},
      {"both built in", {b, a}, std::string(kSignedText), header + LineByA() + byB, idA},
      {"unknown key",
       {b},
       std::string(kSignedText),
       header + LineByA(),
       "no signature by a key built into this program (signed by " + idA + ")"},
      {"flipped byte",
       {a, b},
       std::string(testing::kChangedText),
       header + LineByA() + byB,
       "the signature by key " + idA + ", " + idB + " does not match the manifest"},
      {"malformed file",
       {a},
       std::string(kSignedText),
       "kestrivon-signature 1",
       "signature file holds no signature"},
  };
  for (const auto& c : kCases) {
    const auto checked = CheckManifestSignature(c.manifest, c.file, {c.keys, &verifier});
    EXPECT_EQ(checked ? *checked : checked.error(), c.result) << c.name;
  }
}

TEST(SerialRecord, RemembersTheHighestSerialAndRefusesOlderOnes) {
  EXPECT_TRUE(CheckSerial(7, 7));
  EXPECT_TRUE(CheckSerial(8, 7));
  EXPECT_EQ(CheckSerial(6, 7).error(), "manifest serial 6 is older than 7 already seen");

  const struct {
    std::string_view text;
    std::optional<uint64_t> serial;
  } kTexts[] = {{"42\n", 42}, {"42\r\n", 42},
                {"0", 0},     {"9999999999999999999", 9999999999999999999u},
                {"", {}},     {"\n", {}},
                {"-1", {}},   {"12a", {}},
                {" 1", {}},   {"99999999999999999999", {}}};
  for (const auto& [text, serial] : kTexts) EXPECT_EQ(ParseSerialText(text), serial) << text;

  testing::TempDir dir;
  testing::LogCapture log;
  EXPECT_EQ(ReadHighestSerial(dir.path()), 0u);
  std::filesystem::create_directories(dir.path() / "config");
  ASSERT_TRUE(WriteHighestSerial(dir.path(), 12));
  EXPECT_EQ(ReadHighestSerial(dir.path()), 12u);
  std::ofstream(SerialFilePath(dir.path()), std::ios::trunc) << "garbage";
  EXPECT_EQ(ReadHighestSerial(dir.path()), 0u);
  EXPECT_EQ(
      log.Texts(),
      (std::vector<std::string>{"[WARN] " + (dir.path() / "config" / "manifest-serial").string() +
                                " is damaged; no manifest serial is remembered"}));
}

}  // namespace
}  // namespace kestrivon::core
