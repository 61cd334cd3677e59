#pragma once

// ECDSA P-256 verification through Windows' own BCrypt: the program's verifier of manifest
// signatures. Holds no handle between calls.

#include "core/manifest_signature.h"

namespace kestrivon::win {

class BCryptVerifier final : public core::SignatureVerifier {
 public:
  bool Verify(const core::EcPoint& key, std::string_view message,
              const core::EcSignature& signature) const override;
};

}  // namespace kestrivon::win
