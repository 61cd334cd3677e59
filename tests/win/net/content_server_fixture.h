#pragma once

// The local TLS content server (tools/content_server.py) as the network tests see it. CTest
// starts it before these tests and names its state file in KESTRIVON_CONTENT_SERVER.

#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace kestrivon::win::testing {

// One line of the server's request log.
struct LoggedRequest {
  std::string method;
  std::string path;  // with the query, as sent
  std::string userAgent;
  std::string acceptEncoding;
  std::string tls;
  int status = 0;
  bool gzip = false;  // the body went out gzip-encoded
};

struct ContentServer {
  int port = 0;
  int untrustedPort = 0;  // same content, certificate from no trusted CA
  std::wstring root;      // the served folder
  std::wstring requestLog;
  std::wstring control;  // JSON: path -> fault modes, optionally for the first "times" requests
  std::wstring caDer;

  // "https://localhost:PORT" followed by `pathAndQuery`. Wine matches a certificate only by
  // its DNS names, so the tests use the name rather than the address.
  std::string Url(std::string_view pathAndQuery) const;
  std::string UntrustedUrl(std::string_view pathAndQuery) const;
  // Every logged request whose path and query are exactly `pathAndQuery`, oldest first.
  std::vector<LoggedRequest> RequestsFor(std::string_view pathAndQuery) const;
};

// Byte i of a /generate/N body.
std::string PatternBytes(std::size_t length);

// A Unix path handed over by the server as the Windows path Wine maps it to.
std::wstring WindowsPathFromUnix(std::string_view path);

// True under Wine, whose WinHTTP differs from Windows' in ways some tests must allow for.
bool RunningUnderWine();

// Base of every test that talks to the server. Skips when no server was started for this run
// (the full run of the test executable); fails when one was announced but is unusable. Checks
// after each test that no WinHTTP handle was left registered.
class ContentServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const ContentServer& Server() const { return server_; }
  // A query value that makes a request unique in the request log.
  static std::string Tag();

 private:
  ContentServer server_;
};

}  // namespace kestrivon::win::testing
