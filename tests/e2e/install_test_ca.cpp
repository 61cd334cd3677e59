// Adds a throw-away test CA (DER file) to the Wine prefix's ROOT store, so that the shipped
// updater trusts the end-to-end runs' origin as it would a real one.

#include <cstdio>
#include <string>

#include "tests/support/test_root_certificate.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const std::string error = kestrivon::testing::InstallRootCertificate(argv[1]);
  if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  return error.empty() ? 0 : 1;
}
