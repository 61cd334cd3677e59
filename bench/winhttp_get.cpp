// The download's ceiling in this environment: one HTTPS GET through WinHTTP with the
// updater's session settings (its user agent, automatic proxy, TLS 1.2 and 1.3, HTTP/2 asked
// for), the CDN source's time-outs and 256 KiB reads, each written straight to the file; no
// retries, progress, digest or window. Timed inside the process (Wine's start excluded).
// Usage: kestrivon_winhttp_get URL DESTINATION   Prints "bytes seconds"; run by
// bench/update_bench.py beside the updater.

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Closer {
  void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Internet = std::unique_ptr<void, Closer>;

int Fail(const char* what) {
  std::fprintf(stderr, "%s failed (error %lu)\n", what, GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: kestrivon_winhttp_get URL DESTINATION\n");
    return 2;
  }
  const auto started = std::chrono::steady_clock::now();
  const Internet session(WinHttpOpen(L"Kestrivon-Updater/1.0.0 (Windows)",
                                     WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                                     WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return Fail("WinHttpOpen");
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                        sizeof protocols)) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
  WinHttpSetOption(session.get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof http2);

  std::wstring url = argv[1];
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return Fail("WinHttpCrackUrl");
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  const Internet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return Fail("WinHttpConnect");
  const Internet request(WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
  if (!request) return Fail("WinHttpOpenRequest");
  WinHttpSetTimeouts(request.get(), 10'000, 10'000, 10'000, 60'000);
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                          0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    return Fail("the request");
  }
  DWORD status = 0;
  DWORD length = sizeof status;
  WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX);
  if (status != 200) {
    std::fprintf(stderr, "HTTP %lu\n", status);
    return 1;
  }

  const HANDLE file = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail("CreateFileW");
  std::vector<char> buffer(256 * 1024);
  unsigned long long total = 0;
  bool ok = true;
  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read)) {
      ok = Fail("WinHttpReadData") == 0;
      break;
    }
    if (read == 0) break;
    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) {
      ok = Fail("WriteFile") == 0;
      break;
    }
    total += read;
  }
  CloseHandle(file);
  if (!ok) return 1;
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
  std::printf("%llu %.6f\n", total, seconds.count());
  return 0;
}
