#include "win/net/winhttp_downloader.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "core/log.h"
#include "core/long_path.h"
#include "core/range_answer.h"
#include "core/version.h"
#include "win/base/process_state.h"
#include "win/base/text_encoding.h"
#include "win/net/winhttp_request.h"

namespace kestrivon::win {
namespace {

using core::DownloadError;
using core::TransferState;

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

// Waits only until some of the body is there, then reads what is: a server that trickles the
// body cannot hold a read that waits for a full buffer.
std::expected<DWORD, DownloadError> ReadWhatArrived(HINTERNET request, char* buffer, DWORD size) {
  DWORD available = 0;
  const bool ok = WinHttpQueryDataAvailable(request, &available);
  const DWORD error = GetLastError();
  if (cancelRequested.load()) return std::unexpected(Cancelled());
  if (!ok) return std::unexpected(Retryable(fmt::format("read failed (WinHTTP error {})", error)));
  if (available == 0) return 0;
  return ReadBody(request, buffer, std::min(available, size));
}

DownloadError MoreThanExpected(TransferState& state) {
  // Nothing of such a body is worth keeping.
  const uint64_t expected = state.expectedSize;
  state.StartAfresh();
  return Retryable(fmt::format("the server sent more than the expected {} bytes", expected));
}

// Appends the body to `file` chunk by chunk, each chunk also fed to the digest, judging the
// minimum speed per window; never past the expected size.
std::expected<void, DownloadError> Transfer(HINTERNET request, HANDLE file, uint64_t total,
                                            const core::DownloadPolicy& policy,
                                            const core::ProgressCallback& progress,
                                            TransferState& state) {
  using Clock = std::chrono::steady_clock;
  std::vector<char> buffer(fileBufferBytes);
  auto windowStart = Clock::now();
  uint64_t windowBytes = 0;
  if (progress) progress(state.kept, total);

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
      if (total != 0 && state.kept < total) {
        return std::unexpected(
            Retryable(fmt::format("connection closed after {} of {} bytes", state.kept, total)));
      }
      return {};
    }
    if (state.expectedSize != 0 && read > state.expectedSize - state.kept) {
      return std::unexpected(MoreThanExpected(state));
    }

    DWORD written = 0;
    const bool wrote = WriteFile(file, buffer.data(), read, &written, nullptr) != 0;
    if (!wrote || written != read) {
      // A short write that reports no error is a full disk.
      const DWORD error = wrote ? DWORD{ERROR_DISK_FULL} : GetLastError();
      return std::unexpected(Final(fmt::format("write failed (error {})", error)));
    }
    state.digest.Update(reinterpret_cast<const uint8_t*>(buffer.data()), read);
    state.kept += read;
    if (progress) progress(state.kept, total);

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

void AskForTheRest(HINTERNET request, const TransferState& state) {
  const std::wstring headers =
      WideFromUtf8(fmt::format("Range: bytes={}-\r\nIf-Range: {}", state.kept, state.validator));
  WinHttpAddRequestHeaders(request, headers.c_str(), static_cast<DWORD>(-1),
                           WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
}

// The file to write the body into: truncated to the kept bytes when it continues them,
// else created anew. Anew, not overwritten: under Wine on ext4, closing a file made by an
// overwriting create first writes all of it out (45 ms for 150 MB, measured); one made anew
// is closed at once.
UniqueFile OpenDestination(const std::filesystem::path& destination, uint64_t kept) {
  const DWORD flags = FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN;
  const std::wstring path = core::LongPath(destination).wstring();
  if (kept == 0) {
    DeleteFileW(path.c_str());  // what is left there is of no use; failing, the create fails
    return UniqueFile(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, flags, nullptr));
  }
  UniqueFile file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr));
  LARGE_INTEGER position{};
  position.QuadPart = static_cast<LONGLONG>(kept);
  if (file &&
      (!SetFilePointerEx(file.Get(), position, nullptr, FILE_BEGIN) || !SetEndOfFile(file.Get()))) {
    return UniqueFile();
  }
  return file;
}

// One request: for the rest after the kept bytes when they can be continued, else for the
// whole body. An answer that cannot continue them (416, a wrong Content-Range) costs a second
// request from zero within the same attempt.
std::expected<void, DownloadError> DownloadToFile(const std::wstring& url,
                                                  const std::filesystem::path& destination,
                                                  const core::DownloadPolicy& policy,
                                                  const core::ProgressCallback& progress,
                                                  TransferState& state) {
  for (;;) {
    const bool ranged = state.kept > 0 && !state.validator.empty();
    if (!ranged) state.StartAfresh();
    RequestHandles handles;
    const auto status = SendFollowingRedirects(
        url, 0, RedirectRule::HttpsAnywhere,
        [&](HINTERNET request) {
          SetTimeouts(request, SecondsToMilliseconds(policy.connectTimeoutSeconds),
                      SecondsToMilliseconds(policy.windowSeconds));
          if (ranged) AskForTheRest(request, state);
        },
        handles);
    if (!status) return std::unexpected(status.error());
    HINTERNET request = handles.request.Get();
    if (*status != 200 && !(*status == 206 || (ranged && *status == 416))) {
      return std::unexpected(
          DownloadError{fmt::format("HTTP {}", *status), IsRetryableStatus(*status)});
    }
    const std::string range = EscapeForLog(QueryHeader(request, WINHTTP_QUERY_CONTENT_RANGE));
    const auto answer =
        core::JudgeRangeAnswer(*status, ranged, range, state.kept, state.expectedSize);
    if (answer == core::RangeAnswer::Restart) {
      state.StartAfresh();
      if (!ranged) {
        return std::unexpected(Retryable(fmt::format("HTTP {} to a request from zero", *status)));
      }
      core::LogFormat(core::LogLevel::Warning,
                      "The answer to a resumed request doesn't fit (HTTP {}, Content-Range "
                      "\"{}\"); starting from zero",
                      *status, range);
      continue;
    }
    if (answer == core::RangeAnswer::FromZero) state.StartAfresh();
    const std::string validator =
        core::PickValidator(Utf8FromWide(QueryHeader(request, WINHTTP_QUERY_ETAG)),
                            Utf8FromWide(QueryHeader(request, WINHTTP_QUERY_LAST_MODIFIED)));
    if (!validator.empty() || answer == core::RangeAnswer::FromZero) state.validator = validator;

    const uint64_t length = ContentLength(request);
    if (state.expectedSize != 0 && length > state.expectedSize - state.kept) {
      return std::unexpected(MoreThanExpected(state));
    }
    const uint64_t total =
        state.expectedSize != 0 ? state.expectedSize : (length != 0 ? state.kept + length : 0);
    UniqueFile file = OpenDestination(destination, state.kept);
    if (!file) {
      return std::unexpected(
          Final(fmt::format("can't create the file (error {})", GetLastError())));
    }
    if (!state.validator.empty() && state.bodyStarting) state.bodyStarting(state);
    return Transfer(request, file.Get(), total, policy, progress, state);
  }
}

}  // namespace

std::wstring UserAgent() {
  const std::string_view version = core::updaterVersion;
  return L"Kestrivon-Updater/" + std::wstring(version.begin(), version.end()) + L" (Windows)";
}

std::expected<void, core::DownloadError> WinHttpDownloader::Download(
    const std::string& url, const std::filesystem::path& destination,
    const core::DownloadPolicy& policy, const core::ProgressCallback& progress,
    TransferState& state) const {
  try {
    return DownloadToFile(WideFromUtf8(url), destination, policy, progress, state);
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

std::expected<std::string, std::string> WinHttpDownloader::FetchText(
    const std::wstring& url, int64_t timeoutMilliseconds, uint64_t maxBytes,
    std::chrono::milliseconds deadline) const {
  try {
    using Clock = std::chrono::steady_clock;
    const auto endBy = Clock::now() + deadline;
    const auto overdue = [&] {
      return fmt::format("no complete answer within {:g} s",
                         static_cast<double>(deadline.count()) / 1000);
    };
    const int timeout = ClampMilliseconds(timeoutMilliseconds);
    RequestHandles handles;
    const auto status = SendFollowingRedirects(
        url, WINHTTP_FLAG_BYPASS_PROXY_CACHE, RedirectRule::SameHost,
        [timeout](HINTERNET request) {
          SetTimeouts(request, timeout, timeout);
          DWORD decompression =
              WINHTTP_DECOMPRESSION_FLAG_GZIP | WINHTTP_DECOMPRESSION_FLAG_DEFLATE;
          WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &decompression,
                           sizeof decompression);
        },
        handles);
    if (!status) return std::unexpected(std::move(status.error().message));
    if (*status != 200) return std::unexpected(fmt::format("HTTP {}", *status));
    HINTERNET request = handles.request.Get();

    std::string body;
    std::array<char, textBufferBytes> piece;
    for (;;) {
      // A server that trickles the body must not hold the run: no read waits past the deadline.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(endBy - Clock::now());
      if (left.count() <= 0) return std::unexpected(overdue());
      DWORD wait =
          static_cast<DWORD>(std::min<int64_t>(left.count(), timeout > 0 ? timeout : INT_MAX));
      WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, &wait, sizeof wait);
      const auto read = ReadWhatArrived(request, piece.data(), textBufferBytes);
      if (!read && Clock::now() >= endBy && !cancelRequested.load()) {
        return std::unexpected(overdue());
      }
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
