#pragma once

// The one border where exceptions stop: thread entries, window procedures and every call
// that promises not to throw run their body through CallNoThrow. An exception that gets
// here (in practice only resource exhaustion) is logged as "{what} failed: {reason}" and the
// caller's fallback value is returned. Library calls whose errors are text use
// CallReturningText instead, and leave the logging to their caller.

#include <exception>
#include <expected>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace kestrivon::core {

// Logs the exception being handled. Call only inside a catch block.
void LogCurrentException(std::string_view what) noexcept;

template <typename Body, typename Result = std::invoke_result_t<Body&>>
requires(!std::is_void_v<Result>) Result
    CallNoThrow(std::string_view what, Body&& body, Result fallback)
noexcept {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    LogCurrentException(what);
    return fallback;
  }
}

// For bodies without a result: true when the body returned normally.
template <typename Body>
requires std::is_void_v<std::invoke_result_t<Body&>>
bool CallNoThrow(std::string_view what, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    LogCurrentException(what);
    return false;
  }
}

// For calls that fail with a text: an exception (out of memory, a throwing callback) becomes
// the error "{failure}: {reason}", or `failure` alone when it gives no reason.
template <typename Body, typename Result = std::invoke_result_t<Body&>>
Result CallReturningText(std::string failure, Body&& body) {
  try {
    return std::forward<Body>(body)();
  } catch (const std::exception& exception) {
    return std::unexpected(failure + ": " + exception.what());
  } catch (...) {
    return std::unexpected(std::move(failure));
  }
}

}  // namespace kestrivon::core
