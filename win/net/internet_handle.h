#pragma once

// Owners of WinHTTP connection and request handles, and the registry through which a
// cancellation closes every open one so that blocked calls on the worker return at once.

#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstddef>
#include <memory>

namespace kestrivon::win {

// Owns one WinHTTP handle. The handle is closed exactly once, by whichever of its last owner
// or AbortAllRequests gets there first; afterwards Get() returns null.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) noexcept : handle_(handle) {}
  ~InternetHandle() { Close(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET Get() const noexcept { return handle_.load(); }
  // Any thread.
  void Close() noexcept;

 private:
  std::atomic<HINTERNET> handle_;
};

// A connection or request handle that stays listed in the registry for exactly its own life.
// Destruction unlists it, then closes the handle unless an abort already did.
class RegisteredHandle {
 public:
  explicit RegisteredHandle(HINTERNET handle);
  ~RegisteredHandle();
  RegisteredHandle(const RegisteredHandle&) = delete;
  RegisteredHandle& operator=(const RegisteredHandle&) = delete;

  HINTERNET Get() const noexcept { return handle_->Get(); }

 private:
  std::shared_ptr<InternetHandle> handle_;
};

// Closes every registered handle, newest first. Any thread, any number of times.
void AbortAllRequests() noexcept;

// How many handles are registered right now; zero whenever no transfer is running.
std::size_t RegisteredHandleCount();

}  // namespace kestrivon::win
