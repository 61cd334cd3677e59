#pragma once

// The local TLS content server (tools/content_server.py) as the network tests see it. CTest
// starts it before these tests and names its state file in KESTRIVON_CONTENT_SERVER.

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/win/net/test_root_certificate.h"
#include "tests/win/wine_test_support.h"
#include "win/net/internet_handle.h"

namespace kestrivon::win::testing {

// Byte i of a /generate/N body.
inline std::string PatternBytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// Base of every test that talks to the server. Skips when no server was started for this run
// (the full run of the test executable); fails when one was announced but is unusable. Checks
// after each test that no WinHTTP handle was left registered.
class ContentServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* stateFile = std::getenv("KESTRIVON_CONTENT_SERVER");
    if (stateFile == nullptr || *stateFile == '\0') {
      GTEST_SKIP() << "no content server for this run (CTest starts one for the network tests)";
    }
    const auto state = nlohmann::json::parse(ReadFileBytes(WindowsPath(stateFile)), nullptr, false);
    ASSERT_TRUE(state.is_object()) << "unreadable content server state " << stateFile;
    port_ = state.value("port", 0);
    untrustedPort_ = state.value("untrustedPort", 0);
    requestLog_ = WindowsPath(state.value("requestLog", ""));
    control_ = WindowsPath(state.value("control", ""));
    ASSERT_NE(port_, 0);
    static std::once_flag once;
    static std::string installError;
    std::call_once(once, [&] {
      installError = InstallRootCertificate(WindowsPath(state.value("caDer", "")));
    });
    ASSERT_EQ(installError, "");
  }
  void TearDown() override {
    EXPECT_EQ(RegisteredHandleCount(), 0u) << "a WinHTTP handle outlived its request";
  }

  // Wine matches a certificate only by its DNS names, hence the name rather than the address.
  // The untrusted port serves the same content with a certificate from no trusted CA.
  std::string Url(std::string_view pathAndQuery, bool trusted = true) const {
    return fmt::format("https://localhost:{}{}", trusted ? port_ : untrustedPort_, pathAndQuery);
  }
  // The server's request log entries (method, userAgent, acceptEncoding, tls, status, gzip)
  // whose path and query are exactly `pathAndQuery`, oldest first.
  std::vector<nlohmann::json> RequestsFor(std::string_view pathAndQuery) const {
    std::vector<nlohmann::json> found;
    std::ifstream in{std::filesystem::path(requestLog_)};
    for (std::string line; std::getline(in, line);) {
      auto entry = nlohmann::json::parse(line, nullptr, false);
      if (entry.is_object() && entry.value("path", "") == pathAndQuery) found.push_back(entry);
    }
    return found;
  }
  // A query value that makes a request unique in the request log. Wine reuses process ids
  // from run to run; the start time tells runs apart.
  static std::string Tag() {
    static const uint64_t run = GetTickCount64();
    static int counter = 0;
    return fmt::format("t={}-{}-{}", run, GetCurrentProcessId(), ++counter);
  }

  int port_ = 0;
  std::wstring control_;  // JSON: path -> fault modes, optionally for the first "times" requests

 private:
  // Wine maps the Unix root to drive Z:.
  static std::wstring WindowsPath(std::string_view unixPath) {
    return L"Z:" + std::wstring(unixPath.begin(), unixPath.end());
  }

  int untrustedPort_ = 0;
  std::wstring requestLog_;
};

}  // namespace kestrivon::win::testing
