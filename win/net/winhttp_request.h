#pragma once

// One WinHTTP GET up to its final answer: the process-wide session, opening the request where
// a cancellation can close it, and redirects followed by hand so that each hop is checked and
// logged. Used by the downloader only.

#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <expected>
#include <functional>
#include <string>

#include "core/updater_host.h"
#include "win/net/internet_handle.h"

namespace kestrivon::win {

core::DownloadError Retryable(std::string message);
core::DownloadError Final(std::string message);
core::DownloadError Cancelled();

// Where RequestCancel can find the handles of one transfer. Listed before anything is opened;
// the request is declared last so that it is released before its connection.
struct RequestHandles {
  RegisteredHandle connection;
  RegisteredHandle request;
};

enum class RedirectRule : uint8_t {
  SameHost,       // the manifest and its signature come from the host asked, nowhere else
  HttpsAnywhere,  // packages may come from a mirror's storage, never over plain HTTP
};

// Sets up each request before it is sent (time-outs, headers): the first and every redirect.
using RequestSetup = std::function<void(HINTERNET request)>;

// Sends a GET for `url` and follows up to 5 redirects under `rule`, logging each with its
// target host; the status of the final answer, whose request is in `handles`.
std::expected<DWORD, core::DownloadError> SendFollowingRedirects(const std::wstring& url,
                                                                 DWORD extraFlags,
                                                                 RedirectRule rule,
                                                                 const RequestSetup& setup,
                                                                 RequestHandles& handles);

// A response header as text; empty when absent.
std::wstring QueryHeader(HINTERNET request, DWORD query);

// 0 when the header is absent or not a plain decimal number.
uint64_t ContentLength(HINTERNET request);

bool IsRetryableStatus(DWORD status);

// Network text for a log line: printable ASCII as it is, everything else as \xNN or \uNNNN.
std::string EscapeForLog(std::wstring_view text);

}  // namespace kestrivon::win
