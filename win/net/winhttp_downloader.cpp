#include "win/net/winhttp_downloader.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <climits>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/long_path.h"
#include "core/version.h"
#include "win/base/process_state.h"
#include "win/base/test_seam.h"
#include "win/base/text_encoding.h"
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

DownloadError Retryable(std::string message) { return {std::move(message), true}; }
DownloadError Final(std::string message) { return {std::move(message), false}; }
DownloadError Cancelled() { return Final("cancelled"); }

// Where RequestCancel can find the handles of one transfer. Listed before anything is opened;
// the request is declared last so that it is released before its connection.
struct RequestHandles {
  RegisteredHandle connection;
  RegisteredHandle request;
};

// A cancellation can land after the caller's last check and before a new handle is where
// RequestCancel closes it; it then closes nothing. So the flag is read again after each handle
// is in place, and after every call that may block.
std::expected<void, DownloadError> OpenRequest(const std::wstring& url, DWORD extraFlags,
                                               RequestHandles& handles) {
  if (!IsHttpsUrl(url)) return std::unexpected(Final("only HTTPS URLs are allowed"));
  HINTERNET session = GetSession();
  if (session == nullptr) return std::unexpected(Final("no WinHTTP session"));

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
    return std::unexpected(Final("malformed URL"));
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring object;
  if (parts.lpszUrlPath != nullptr) object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (object.empty()) object = L"/";

  HINTERNET connection = WinHttpConnect(session, host.c_str(), parts.nPort, 0);
  const DWORD connectError = GetLastError();
  if (testSeam.transferHandleOpened != nullptr) testSeam.transferHandleOpened();
  handles.connection.Adopt(connection);
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (connection == nullptr) {
    return std::unexpected(Final(fmt::format("can't connect (WinHTTP error {})", connectError)));
  }
  HINTERNET request =
      WinHttpOpenRequest(connection, L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, extraFlags | WINHTTP_FLAG_SECURE);
  const DWORD requestError = GetLastError();
  if (testSeam.transferHandleOpened != nullptr) testSeam.transferHandleOpened();
  handles.request.Adopt(request);
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (request == nullptr) {
    return std::unexpected(
        Final(fmt::format("can't open the request (WinHTTP error {})", requestError)));
  }
  return {};
}

bool IsRetryableStatus(DWORD status) {
  return status == 0 || status == 408 || status == 429 || status >= 500;
}

DownloadError NoConnection() {
  return Retryable(fmt::format("no connection (WinHTTP error {})", GetLastError()));
}

// Sends the request and waits for a 200 answer.
std::expected<void, DownloadError> SendRequest(HINTERNET request) {
  const bool sent = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                       WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (!sent) return std::unexpected(NoConnection());
  const bool answered = WinHttpReceiveResponse(request, nullptr);
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (!answered) return std::unexpected(NoConnection());
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::unexpected(NoConnection());
  }
  if (status != 200) {
    return std::unexpected(
        DownloadError{fmt::format("HTTP {}", status), IsRetryableStatus(status)});
  }
  return {};
}

// One read of the body; a read broken by RequestCancel closing the handle is the user's doing,
// not the net's.
std::expected<DWORD, DownloadError> ReadBody(HINTERNET request, char* buffer, DWORD size) {
  DWORD read = 0;
  const bool ok = WinHttpReadData(request, buffer, size, &read);
  const DWORD error = GetLastError();
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (!ok) return std::unexpected(Retryable(fmt::format("read failed (WinHTTP error {})", error)));
  return read;
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

// Reads the body into `file` chunk by chunk, judging the minimum speed per window.
std::expected<void, DownloadError> Transfer(HINTERNET request, HANDLE file, uint64_t total,
                                            const core::DownloadPolicy& policy,
                                            const core::ProgressCallback& progress) {
  using Clock = std::chrono::steady_clock;
  std::vector<char> buffer(fileBufferBytes);
  auto windowStart = Clock::now();
  uint64_t windowBytes = 0;
  uint64_t done = 0;

  const auto window = std::chrono::seconds(policy.windowSeconds);
  const uint64_t windowSeconds =
      policy.windowSeconds > 0 ? static_cast<uint64_t>(policy.windowSeconds) : 0;
  const uint64_t windowMinimum =
      policy.minBytesPerSecond != 0 && windowSeconds > UINT64_MAX / policy.minBytesPerSecond
          ? UINT64_MAX
          : windowSeconds * policy.minBytesPerSecond;

  for (;;) {
    const auto piece = ReadBody(request, buffer.data(), fileBufferBytes);
    if (!piece) return std::unexpected(piece.error());
    const DWORD read = *piece;
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
  }
}

std::expected<void, DownloadError> DownloadToFile(const std::wstring& url,
                                                  const std::filesystem::path& destination,
                                                  const core::DownloadPolicy& policy,
                                                  const core::ProgressCallback& progress) {
  RequestHandles handles;
  if (auto opened = OpenRequest(url, 0, handles); !opened) return opened;
  HINTERNET request = handles.request.Get();

  SetTimeouts(request, SecondsToMilliseconds(policy.connectTimeoutSeconds),
              SecondsToMilliseconds(policy.windowSeconds));

  if (auto sent = SendRequest(request); !sent) return sent;
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
    RequestHandles handles;
    if (auto opened = OpenRequest(url, WINHTTP_FLAG_BYPASS_PROXY_CACHE, handles); !opened) {
      return std::unexpected(std::move(opened.error().message));
    }
    HINTERNET request = handles.request.Get();

    const int timeout = ClampMilliseconds(timeoutMilliseconds);
    SetTimeouts(request, timeout, timeout);
    DWORD decompression = WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
    WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &decompression, sizeof decompression);

    if (auto sent = SendRequest(request); !sent) {
      return std::unexpected(std::move(sent.error().message));
    }

    std::string body;
    std::array<char, textBufferBytes> piece;
    for (;;) {
      const auto read = ReadBody(request, piece.data(), textBufferBytes);
      if (!read) return std::unexpected(std::move(read.error().message));
      if (*read == 0) return body;
      if (*read > maxBytes - body.size()) {
        return std::unexpected(fmt::format("larger than {} KiB", maxBytes / 1024));
      }
      body.append(piece.data(), *read);
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
