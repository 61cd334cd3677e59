#pragma once

// Owners of OpenSSL objects, for the native code that signs and verifies (the publisher, the
// tests); the program itself verifies through the system's own library.

#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <memory>

namespace kestrivon::core {

// Frees an object with the C function made for it.
template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* object) const {
    Free(object);
  }
};
using PkeyOwner = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY_free>>;
using ContextOwner = std::unique_ptr<EVP_PKEY_CTX, FreeWith<EVP_PKEY_CTX_free>>;
using DigestOwner = std::unique_ptr<EVP_MD_CTX, FreeWith<EVP_MD_CTX_free>>;
using SigOwner = std::unique_ptr<ECDSA_SIG, FreeWith<ECDSA_SIG_free>>;

}  // namespace kestrivon::core
