#pragma once

// Trusting the content server's throw-away test CA, for the tests and the download benchmark.

#include <string>

namespace kestrivon::win::testing {

// Adds a DER certificate to the local machine's ROOT store (replacing an equal one); empty
// text on success, else the reason.
std::string InstallRootCertificate(const std::wstring& derFile);

}  // namespace kestrivon::win::testing
