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
  InternetHandle() noexcept = default;
  ~InternetHandle() { Close(); }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;

  HINTERNET Get() const noexcept { return handle_.load(); }
  // Closes what is held and takes `handle`. Any thread.
  void Reset(HINTERNET handle = nullptr) noexcept;
  void Close() noexcept { Reset(); }

 private:
  std::atomic<HINTERNET> handle_ = nullptr;
};

// A place for one connection or request handle, listed in the registry for exactly its own
// life. It is listed before the handle is opened, so that taking the handle allocates nothing
// and cannot throw. Destruction unlists it, then closes the handle unless an abort already did.
class RegisteredHandle {
 public:
  RegisteredHandle();
  ~RegisteredHandle();
  RegisteredHandle(const RegisteredHandle&) = delete;
  RegisteredHandle& operator=(const RegisteredHandle&) = delete;

  // Takes a handle just opened (null is fine). An abort that ran before this call found
  // nothing to close: the caller checks the cancellation flag afterwards.
  void Adopt(HINTERNET handle) noexcept { handle_->Reset(handle); }
  HINTERNET Get() const noexcept { return handle_->Get(); }

 private:
  std::shared_ptr<InternetHandle> handle_;
};

// Closes every registered handle, newest first. Any thread, any number of times.
void AbortAllRequests() noexcept;

// How many handles are registered right now; zero whenever no transfer is running.
std::size_t RegisteredHandleCount();

}  // namespace kestrivon::win
