#pragma once

// Trusting the content server's throw-away test CA, for the tests and the download benchmark.

#include <windows.h>

// After windows.h, which it needs.
#include <wincrypt.h>

#include <string>

#include <fmt/format.h>

#include "tests/support/wine_test_support.h"

namespace kestrivon::testing {

// Adds a DER certificate to the machine's ROOT store: "" on success, else the reason.
inline std::string InstallRootCertificate(const std::wstring& derFile) {
  const std::string der = ReadFileBytes(derFile);
  if (der.empty()) return "can't read the test CA";
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (store == nullptr) return fmt::format("can't open the ROOT store (error {})", GetLastError());
  const BOOL added = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
      static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  return added ? "" : fmt::format("can't add the test CA (error {})", error);
}

}  // namespace kestrivon::testing
