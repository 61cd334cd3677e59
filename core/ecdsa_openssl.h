#pragma once

// ECDSA P-256 verification through OpenSSL's libcrypto: the native build's verifier (the
// publisher and the tests). The Windows program verifies through BCrypt instead.

#include "core/manifest_signature.h"

namespace kestrivon::core {

class OpenSslVerifier final : public SignatureVerifier {
 public:
  bool Verify(const EcPoint& key, std::string_view message,
              const EcSignature& signature) const override;
};

}  // namespace kestrivon::core
