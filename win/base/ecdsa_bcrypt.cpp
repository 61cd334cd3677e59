#include "win/base/ecdsa_bcrypt.h"

#include <array>
#include <cstring>

#include "core/file_digest.h"
#include "win/base/unique_handle.h"

namespace kestrivon::win {
namespace {

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

bool BCryptVerifier::Verify(const core::EcPoint& key, std::string_view message,
                            const core::EcSignature& signature) const {
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  if (!Succeeded(
          BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
    return false;
  }
  const UniqueBCryptAlgorithm algorithm(rawAlgorithm);

  // BCRYPT_ECCKEY_BLOB, then X and Y.
  std::array<UCHAR, sizeof(BCRYPT_ECCKEY_BLOB) + 64> blob{};
  const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data(), key.size());
  BCRYPT_KEY_HANDLE rawKey = nullptr;
  if (!Succeeded(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &rawKey,
                                     blob.data(), static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  const UniqueBCryptKey publicKey(rawKey);

  core::Sha256 hasher;
  hasher.Update(reinterpret_cast<const uint8_t*>(message.data()), message.size());
  std::array<uint8_t, 32> digest = hasher.Finish();
  core::EcSignature copy = signature;  // BCrypt takes non-const buffers
  return Succeeded(BCryptVerifySignature(publicKey.Get(), nullptr, digest.data(),
                                         static_cast<ULONG>(digest.size()), copy.data(),
                                         static_cast<ULONG>(copy.size()), 0));
}

}  // namespace kestrivon::win
