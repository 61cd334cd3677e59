#include "core/ecdsa_openssl.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "core/openssl_owners.h"

namespace kestrivon::core {
namespace {

PkeyOwner PublicKey(const EcPoint& key) {
  unsigned char encoded[65] = {0x04};
  std::copy(key.begin(), key.end(), encoded + 1);
  char group[] = "prime256v1";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, encoded, sizeof encoded),
      OSSL_PARAM_construct_end()};
  ContextOwner context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY,
                        const_cast<OSSL_PARAM*>(params)) != 1) {
    return nullptr;
  }
  return PkeyOwner(raw);
}

// libcrypto takes ECDSA signatures as DER.
std::string DerSignature(const EcSignature& signature) {
  SigOwner sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(signature.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(signature.data() + 32, 32, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  unsigned char* der = nullptr;
  const int length = i2d_ECDSA_SIG(sig.get(), &der);
  if (length <= 0) return {};
  std::string text(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return text;
}

}  // namespace

bool OpenSslVerifier::Verify(const EcPoint& key, std::string_view message,
                             const EcSignature& signature) const {
  const PkeyOwner publicKey = PublicKey(key);
  const std::string der = DerSignature(signature);
  DigestOwner digest(EVP_MD_CTX_new());
  if (!publicKey || der.empty() || !digest ||
      EVP_DigestVerifyInit(digest.get(), nullptr, EVP_sha256(), nullptr, publicKey.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(digest.get(), reinterpret_cast<const unsigned char*>(der.data()),
                          der.size(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace kestrivon::core
