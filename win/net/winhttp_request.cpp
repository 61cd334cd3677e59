#include "win/net/winhttp_request.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/log.h"
#include "win/base/process_state.h"
#include "win/base/test_seam.h"
#include "win/log/log_file.h"
#include "win/net/winhttp_downloader.h"

#ifndef WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3
#define WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3 0x00002000
#endif

namespace kestrivon::win {
namespace {

using core::DownloadError;

constexpr int kMaxRedirects = 5;
constexpr DWORD kMaxHeaderBytes = 8192;

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

bool StartsWithIgnoringCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool IsHttpsUrl(std::wstring_view url) { return StartsWithIgnoringCase(url, L"https://"); }

struct UrlParts {
  std::wstring host;
  INTERNET_PORT port = 0;
  std::wstring object;  // path and query
};

std::optional<UrlParts> CrackHttpsUrl(const std::wstring& url) {
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
    return std::nullopt;
  }
  UrlParts result{std::wstring(parts.lpszHostName, parts.dwHostNameLength), parts.nPort, {}};
  if (parts.lpszUrlPath != nullptr) result.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo != nullptr) {
    result.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  if (result.object.empty()) result.object = L"/";
  return result;
}

// A cancellation can land after the caller's last check and before a new handle is where
// RequestCancel closes it; it then closes nothing. So the flag is read again after each handle
// is in place, and after every call that may block.
std::expected<void, DownloadError> OpenRequest(const UrlParts& url, DWORD extraFlags,
                                               RequestHandles& handles) {
  HINTERNET connection = WinHttpConnect(GetSession(), url.host.c_str(), url.port, 0);
  const DWORD connectError = GetLastError();
  if (testSeam.transferHandleOpened != nullptr) testSeam.transferHandleOpened();
  handles.connection.Adopt(connection);
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (connection == nullptr) {
    return std::unexpected(Final(fmt::format("can't connect (WinHTTP error {})", connectError)));
  }
  HINTERNET request =
      WinHttpOpenRequest(connection, L"GET", url.object.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, extraFlags | WINHTTP_FLAG_SECURE);
  const DWORD requestError = GetLastError();
  if (testSeam.transferHandleOpened != nullptr) testSeam.transferHandleOpened();
  handles.request.Adopt(request);
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (request == nullptr) {
    return std::unexpected(
        Final(fmt::format("can't open the request (WinHTTP error {})", requestError)));
  }
  // Redirects are followed here, hop by hop, so that each one is judged and logged.
  DWORD never = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &never, sizeof never);
  DWORD disable = WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &disable, sizeof disable);
  return {};
}

DownloadError NoConnection() {
  return Retryable(fmt::format("no connection (WinHTTP error {})", GetLastError()));
}

std::expected<DWORD, DownloadError> SendAndReceive(HINTERNET request) {
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
  return status;
}

bool IsRedirect(DWORD status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Where a Location header leads from `current`, if the rule lets the transfer go there.
std::expected<UrlParts, DownloadError> RedirectTarget(const UrlParts& origin,
                                                      const UrlParts& current,
                                                      const std::wstring& location,
                                                      RedirectRule rule) {
  std::wstring target = location;
  if (location.starts_with(L"//")) {
    target = L"https:" + location;
  } else if (location.starts_with(L"/")) {
    target = L"https://" + current.host + L":" + std::to_wstring(current.port) + location;
  }
  if (StartsWithIgnoringCase(target, L"http://")) {
    return std::unexpected(Final("redirect to plain HTTP refused: " + EscapeForLog(target)));
  }
  const auto parts = IsHttpsUrl(target) ? CrackHttpsUrl(target) : std::nullopt;
  if (!parts) {
    return std::unexpected(Final("redirect to an unusable location: " + EscapeForLog(location)));
  }
  if (rule == RedirectRule::SameHost &&
      (CompareStringOrdinal(parts->host.c_str(), -1, origin.host.c_str(), -1, TRUE) != CSTR_EQUAL ||
       parts->port != origin.port)) {
    return std::unexpected(Final("redirect to another host refused: " + EscapeForLog(parts->host)));
  }
  return *parts;
}

}  // namespace

DownloadError Retryable(std::string message) { return {std::move(message), true}; }
DownloadError Final(std::string message) { return {std::move(message), false}; }
DownloadError Cancelled() { return Final("cancelled"); }

std::expected<DWORD, DownloadError> SendFollowingRedirects(const std::wstring& url,
                                                           DWORD extraFlags, RedirectRule rule,
                                                           const RequestSetup& setup,
                                                           RequestHandles& handles) {
  if (!IsHttpsUrl(url)) return std::unexpected(Final("only HTTPS URLs are allowed"));
  if (GetSession() == nullptr) return std::unexpected(Final("no WinHTTP session"));
  const auto origin = CrackHttpsUrl(url);
  if (!origin) return std::unexpected(Final("malformed URL"));
  UrlParts current = *origin;
  for (int hop = 0;; ++hop) {
    if (auto opened = OpenRequest(current, extraFlags, handles); !opened) {
      return std::unexpected(std::move(opened.error()));
    }
    HINTERNET request = handles.request.Get();
    if (setup) setup(request);
    const auto status = SendAndReceive(request);
    if (!status || !IsRedirect(*status)) return status;
    if (hop == kMaxRedirects) return std::unexpected(Final("too many redirects"));
    auto next =
        RedirectTarget(*origin, current, QueryHeader(request, WINHTTP_QUERY_LOCATION), rule);
    if (!next) return std::unexpected(std::move(next.error()));
    core::LogFormat(core::LogLevel::Info, "Following a redirect to {}", EscapeForLog(next->host));
    handles.request.Adopt(nullptr);
    handles.connection.Adopt(nullptr);
    current = std::move(*next);
  }
}

std::wstring QueryHeader(HINTERNET request, DWORD query) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0 || size > kMaxHeaderBytes) {
    return {};
  }
  std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  return std::wstring(text.data(), std::min<std::size_t>(bytes / sizeof(wchar_t), text.size()));
}

uint64_t ContentLength(HINTERNET request) {
  const std::wstring text = QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
  if (text.empty() || text.size() > 20) return 0;
  std::string digits;
  for (const wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    digits.push_back(static_cast<char>(c));
  }
  uint64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return 0;
  return value;
}

bool IsRetryableStatus(DWORD status) {
  return status == 0 || status == 408 || status == 429 || status >= 500;
}

std::string EscapeForLog(std::wstring_view text) {
  std::string escaped;
  for (const wchar_t c : text) {
    if (c >= 0x20 && c < 0x7F && c != L'\\') {
      escaped.push_back(static_cast<char>(c));
    } else if (c < 0x100) {
      escaped += fmt::format("\\x{:02x}", static_cast<unsigned>(c));
    } else {
      escaped += fmt::format("\\u{:04x}", static_cast<unsigned>(c));
    }
  }
  return escaped;
}

}  // namespace kestrivon::win
