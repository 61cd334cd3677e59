#pragma once

// The one border where exceptions stop: thread entries, window procedures and every call
// that promises not to throw run their body through CallNoThrow. An exception that gets
// here (in practice only resource exhaustion) is logged as "{what} failed: {reason}" and the
// caller's fallback value is returned.

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

}  // namespace kestrivon::core
