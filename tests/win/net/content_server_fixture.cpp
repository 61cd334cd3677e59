#include "tests/win/net/content_server_fixture.h"

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tests/win/net/test_root_certificate.h"
#include "win/net/internet_handle.h"

namespace kestrivon::win::testing {
namespace {

constexpr const char* stateVariable = "KESTRIVON_CONTENT_SERVER";

std::string ReadWhole(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::wstring WindowsPathFromUnix(std::string_view path) {
  std::wstring wide(path.begin(), path.end());
  // Wine maps the Unix root to drive Z:.
  return path.starts_with('/') ? L"Z:" + wide : wide;
}

std::string ContentServer::Url(std::string_view pathAndQuery) const {
  return fmt::format("https://localhost:{}{}", port, pathAndQuery);
}

std::string ContentServer::UntrustedUrl(std::string_view pathAndQuery) const {
  return fmt::format("https://localhost:{}{}", untrustedPort, pathAndQuery);
}

std::vector<LoggedRequest> ContentServer::RequestsFor(std::string_view pathAndQuery) const {
  std::vector<LoggedRequest> found;
  std::ifstream in{std::filesystem::path(requestLog)};
  for (std::string line; std::getline(in, line);) {
    const auto entry = nlohmann::json::parse(line, nullptr, false);
    if (!entry.is_object() || entry.value("path", "") != pathAndQuery) continue;
    found.push_back({entry.value("method", ""), entry.value("path", ""),
                     entry.value("userAgent", ""), entry.value("acceptEncoding", ""),
                     entry.value("tls", ""), entry.value("status", 0), entry.value("gzip", false)});
  }
  return found;
}

std::string PatternBytes(std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ContentServerTest::SetUp() {
  const char* stateFile = std::getenv(stateVariable);
  if (stateFile == nullptr || *stateFile == '\0') {
    GTEST_SKIP() << "no content server for this run (CTest starts one for the network tests)";
  }
  const auto state =
      nlohmann::json::parse(ReadWhole(WindowsPathFromUnix(stateFile)), nullptr, false);
  ASSERT_TRUE(state.is_object()) << "unreadable content server state " << stateFile;
  server_.port = state.value("port", 0);
  server_.untrustedPort = state.value("untrustedPort", 0);
  server_.root = WindowsPathFromUnix(state.value("root", ""));
  server_.requestLog = WindowsPathFromUnix(state.value("requestLog", ""));
  server_.control = WindowsPathFromUnix(state.value("control", ""));
  server_.caDer = WindowsPathFromUnix(state.value("caDer", ""));
  ASSERT_NE(server_.port, 0);

  static std::once_flag once;
  static std::string installError;
  std::call_once(once, [&] { installError = InstallRootCertificate(server_.caDer); });
  ASSERT_EQ(installError, "");
}

void ContentServerTest::TearDown() {
  EXPECT_EQ(RegisteredHandleCount(), 0u) << "a WinHTTP handle outlived its request";
}

std::string ContentServerTest::Tag() {
  // Wine reuses process ids from run to run; the start time tells runs apart.
  static const uint64_t run = GetTickCount64();
  static int counter = 0;
  return fmt::format("t={}-{}-{}", run, GetCurrentProcessId(), ++counter);
}

}  // namespace kestrivon::win::testing
