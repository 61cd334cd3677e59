#include "win/net/winhttp_downloader.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <climits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/long_path.h"
#include "core/version.h"
#include "win/host/process_state.h"
#include "win/host/text_encoding.h"
#include "win/log/log_file.h"
#include "win/net/internet_handle.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace kestrivon::win {
namespace {

using core::DownloadError;

constexpr DWORD fileBufferBytes = 256 * 1024;
constexpr DWORD textBufferBytes = 16 * 1024;

// Seconds or milliseconds as a WinHTTP time-out: never negative, never past INT_MAX.
int ClampMilliseconds(int64_t milliseconds) {
  return static_cast<int>(std::clamp<int64_t>(milliseconds, 0, INT_MAX));
}

int SecondsToMilliseconds(int64_t seconds) {
  if (seconds > INT_MAX / 1000) return INT_MAX;
  return ClampMilliseconds(seconds * 1000);
}

// Resolve, connect and send get `connectMs`; receiving gets `receiveMs`. The wait for the
// response headers is capped by the receive time-out as well: some WinHTTP implementations
// otherwise wait for headers without limit, and a server that accepts but never answers would
// hang the update.
void SetTimeouts(HINTERNET request, int connectMs, int receiveMs) {
  WinHttpSetTimeouts(request, connectMs, connectMs, connectMs, receiveMs);
  if (receiveMs <= 0) return;  // 0 means no limit for the reads; leave the default
  DWORD responseMs = static_cast<DWORD>(receiveMs);
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                   sizeof responseMs);
}

HINTERNET OpenSession() {
  const std::wstring agent = UserAgent();
  HINTERNET session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    const DWORD error = GetLastError();
    WriteLogLine(L"[ERROR] WinHttpOpen failed: " + FormatSystemError(error));
    return nullptr;
  }
  // Older systems refuse TLS 1.3; TLS 1.2 alone is the floor.
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
  if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
    protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
  WinHttpSetOption(session, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof http2);
  return session;
}

// Created on first use and never closed; a failed creation is not retried.
HINTERNET GetSession() {
  static std::once_flag once;
  static HINTERNET session = nullptr;
  std::call_once(once, [] { session = OpenSession(); });
  return session;
}

bool IsHttpsUrl(const std::wstring& url) {
  constexpr std::wstring_view scheme = L"https://";
  if (url.size() < scheme.size()) return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    wchar_t c = url[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != scheme[i]) return false;
  }
  return true;
}

// The request handle is declared last so that it is released before its connection.
struct OpenRequestHandles {
  std::unique_ptr<RegisteredHandle> connection;
  std::unique_ptr<RegisteredHandle> request;
};

std::expected<OpenRequestHandles, std::string> OpenRequest(const std::wstring& url,
                                                           DWORD extraFlags) {
  if (!IsHttpsUrl(url)) return std::unexpected("only HTTPS URLs are allowed");
  HINTERNET session = GetSession();
  if (session == nullptr) return std::unexpected("no WinHTTP session");

  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (url.size() > INT_MAX ||
      !WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
      parts.nScheme != INTERNET_SCHEME_HTTPS || parts.lpszHostName == nullptr ||
      parts.dwHostNameLength == 0) {
    return std::unexpected("malformed URL");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object;
  if (parts.lpszUrlPath != nullptr) object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  OpenRequestHandles handles;
  HINTERNET connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
  const DWORD connectError = GetLastError();
  handles.connection = std::make_unique<RegisteredHandle>(connection);
  if (connection == nullptr) {
    return std::unexpected(fmt::format("can't connect (WinHTTP error {})", connectError));
  }
  HINTERNET request =
      WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, extraFlags | WINHTTP_FLAG_SECURE);
  const DWORD requestError = GetLastError();
  handles.request = std::make_unique<RegisteredHandle>(request);
  if (request == nullptr) {
    return std::unexpected(fmt::format("can't open the request (WinHTTP error {})", requestError));
  }
  return handles;
}

struct SendFailure {
  std::string message;
  DWORD status = 0;  // 0 when no response arrived
};

std::expected<void, SendFailure> SendRequest(HINTERNET request) {
  if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                          0) ||
      !WinHttpReceiveResponse(request, nullptr)) {
    return std::unexpected(
        SendFailure{fmt::format("no connection (WinHTTP error {})", GetLastError()), 0});
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::unexpected(
        SendFailure{fmt::format("no connection (WinHTTP error {})", GetLastError()), 0});
  }
  if (status != 200) return std::unexpected(SendFailure{fmt::format("HTTP {}", status), status});
  return {};
}

bool IsRetryableStatus(DWORD status) {
  return status == 0 || status == 408 || status == 429 || status >= 500;
}

// 0 when the header is absent or not a plain decimal number.
uint64_t ContentLength(HINTERNET request) {
  std::array<wchar_t, 32> text{};
  DWORD size = sizeof text;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                           text.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  const std::size_t length = std::min<std::size_t>(size / sizeof(wchar_t), text.size());
  std::string digits;
  for (std::size_t i = 0; i < length && text[i] != L'\0'; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return 0;
    digits.push_back(static_cast<char>(text[i]));
  }
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  return value;
}

DownloadError Retryable(std::string message) { return {std::move(message), true}; }
DownloadError Final(std::string message) { return {std::move(message), false}; }

// Reads the body into `file` chunk by chunk, judging the minimum speed per window.
std::expected<void, DownloadError> Transfer(HINTERNET request, HANDLE file, uint64_t total,
                                            const core::DownloadPolicy& policy,
                                            const core::ProgressCallback& progress) {
  using Clock = std::chrono::steady_clock;
  std::vector<char> buffer(fileBufferBytes);
  auto windowStart = Clock::now();
  uint64_t windowBytes = 0;
  uint64_t done = 0;
  if (cancelRequested.load()) return std::unexpected(Final("cancelled"));

  const auto window = std::chrono::seconds(policy.windowSeconds);
  const uint64_t windowSeconds =
      policy.windowSeconds > 0 ? static_cast<uint64_t>(policy.windowSeconds) : 0;
  const uint64_t windowMinimum =
      policy.minBytesPerSecond != 0 && windowSeconds > UINT64_MAX / policy.minBytesPerSecond
          ? UINT64_MAX
          : windowSeconds * policy.minBytesPerSecond;

  for (;;) {
    DWORD read = 0;
    if (!WinHttpReadData(request, buffer.data(), fileBufferBytes, &read)) {
      const DWORD error = GetLastError();
      // A read broken by RequestCancel closing the handle is the user's doing, not the net's.
      if (cancelRequested.load()) return std::unexpected(Final("cancelled"));
      return std::unexpected(Retryable(fmt::format("read failed (WinHTTP error {})", error)));
    }
    if (read == 0) {
      // A connection that ends early can look like the end of the body; the announced length
      // tells them apart, and a truncated file must not pass for a complete one.
      if (total != 0 && done < total) {
        return std::unexpected(
            Retryable(fmt::format("connection closed after {} of {} bytes", done, total)));
      }
      return {};
    }

    DWORD written = 0;
    if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) {
      return std::unexpected(Final(fmt::format("write failed (error {})", GetLastError())));
    }
    done += read;
    if (progress) progress(done, total);

    windowBytes += read;
    if (policy.minBytesPerSecond != 0) {
      const auto now = Clock::now();
      if (now - windowStart >= window) {
        if (windowBytes < windowMinimum) {
          return std::unexpected(Retryable(
              fmt::format("too slow: {} KiB in {} s", windowBytes / 1024, policy.windowSeconds)));
        }
        windowStart = now;
        windowBytes = 0;
      }
    }
    if (cancelRequested.load()) return std::unexpected(Final("cancelled"));
  }
}

std::expected<void, DownloadError> DownloadToFile(const std::wstring& url,
                                                  const std::filesystem::path& destination,
                                                  const core::DownloadPolicy& policy,
                                                  const core::ProgressCallback& progress) {
  auto handles = OpenRequest(url, 0);
  if (!handles) return std::unexpected(Final(std::move(handles.error())));
  HINTERNET request = handles->request->Get();

  SetTimeouts(request, SecondsToMilliseconds(policy.connectTimeoutSeconds),
              SecondsToMilliseconds(policy.windowSeconds));

  if (auto sent = SendRequest(request); !sent) {
    if (cancelRequested.load()) return std::unexpected(Final("cancelled"));
    return std::unexpected(
        DownloadError{std::move(sent.error().message), IsRetryableStatus(sent.error().status)});
  }
  const uint64_t total = ContentLength(request);

  UniqueFile file(CreateFileW(core::LongPath(destination).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN,
                              nullptr));
  if (!file) {
    return std::unexpected(Final(fmt::format("can't create the file (error {})", GetLastError())));
  }
  return Transfer(request, file.Get(), total, policy, progress);
}

}  // namespace

std::wstring UserAgent() {
  const std::string_view version = core::updaterVersion;
  return L"Kestrivon-Updater/" + std::wstring(version.begin(), version.end()) + L" (Windows)";
}

std::expected<void, core::DownloadError> WinHttpDownloader::Download(
    const std::string& url, const std::filesystem::path& destination,
    const core::DownloadPolicy& policy, const core::ProgressCallback& progress) const {
  try {
    return DownloadToFile(WideFromUtf8(url), destination, policy, progress);
  } catch (const std::exception& error) {
    return std::unexpected(Final(fmt::format("download failed: {}", error.what())));
  } catch (...) {
    return std::unexpected(Final("download failed: unknown exception"));
  }
}

bool WinHttpDownloader::WaitFor(int milliseconds) const {
  if (milliseconds < 1) return !cancelRequested.load();
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (cancelRequested.load()) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return true;
    Sleep(static_cast<DWORD>(std::min<int64_t>(left.count(), 50)));
  }
}

bool WinHttpDownloader::IsCancelled() const { return cancelRequested.load(); }

std::expected<std::string, std::string> WinHttpDownloader::FetchText(const std::wstring& url,
                                                                     int64_t timeoutMilliseconds,
                                                                     uint64_t maxBytes) const {
  try {
    auto handles = OpenRequest(url, WINHTTP_FLAG_BYPASS_PROXY_CACHE);
    if (!handles) return std::unexpected(std::move(handles.error()));
    HINTERNET request = handles->request->Get();

    const int timeout = ClampMilliseconds(timeoutMilliseconds);
    SetTimeouts(request, timeout, timeout);
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
    WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);

    if (auto sent = SendRequest(request); !sent) return std::unexpected(sent.error().message);

    std::string body;
    std::array<char, textBufferBytes> piece;
    for (;;) {
      DWORD read = 0;
      if (!WinHttpReadData(request, piece.data(), textBufferBytes, &read)) {
        return std::unexpected(fmt::format("read failed (WinHTTP error {})", GetLastError()));
      }
      if (read == 0) return body;
      if (read > maxBytes - body.size()) {
        return std::unexpected(fmt::format("larger than {} KiB", maxBytes / 1024));
      }
      body.append(piece.data(), read);
    }
  } catch (const std::exception& error) {
    return std::unexpected(fmt::format("fetch failed: {}", error.what()));
  } catch (...) {
    return std::unexpected("fetch failed: unknown exception");
  }
}

void RequestCancel() {
  cancelRequested.exchange(true);
  AbortAllRequests();
}

}  // namespace kestrivon::win
