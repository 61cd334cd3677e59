#pragma once

// The one owner template for Windows handles, and its common kinds. Every handle the
// program opens is owned by one of these from the moment it exists; raw handles never cross
// an interface. Other owners (GDI+ objects, COM pointers) are built on the same template.

#include <windows.h>
#include <winsock2.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <utility>

namespace kestrivon::win {

// Traits: `Value`, `Invalid()` (the "owns nothing" value), `IsValid(value)` and
// `Close(value)`.
template <typename Traits>
class UniqueResource {
 public:
  using Value = typename Traits::Value;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Value value) noexcept : value_(value) {}
  ~UniqueResource() { Reset(); }
  UniqueResource(UniqueResource&& other) noexcept : value_(other.Release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;

  Value Get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return Traits::IsValid(value_); }

  // Closes what is owned (if anything) and takes `value` instead.
  void Reset(Value value = Traits::Invalid()) noexcept {
    const Value old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // Gives up ownership without closing.
  [[nodiscard]] Value Release() noexcept { return std::exchange(value_, Traits::Invalid()); }

 private:
  Value value_ = Traits::Invalid();
};

namespace handle_traits {

// Kernel objects whose "none" is null: processes, threads, mutexes, events.
struct Kernel {
  using Value = HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept {
    return value != nullptr && value != INVALID_HANDLE_VALUE;
  }
  static void Close(Value value) noexcept { CloseHandle(value); }
};

// Files and find handles: CreateFileW answers INVALID_HANDLE_VALUE on failure.
struct File : Kernel {
  static Value Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// Directory searches: FindFirstFileW answers INVALID_HANDLE_VALUE on failure.
struct Find : File {
  static void Close(Value value) noexcept { FindClose(value); }
};

struct Window {
  using Value = HWND;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { DestroyWindow(value); }
};

struct Socket {
  using Value = SOCKET;
  static Value Invalid() noexcept { return INVALID_SOCKET; }
  static bool IsValid(Value value) noexcept { return value != INVALID_SOCKET; }
  static void Close(Value value) noexcept { closesocket(value); }
};

struct Local {
  using Value = HLOCAL;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { LocalFree(value); }
};

struct BCryptAlgorithm {
  using Value = BCRYPT_ALG_HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { BCryptCloseAlgorithmProvider(value, 0); }
};
struct BCryptKey {
  using Value = BCRYPT_KEY_HANDLE;
  static Value Invalid() noexcept { return nullptr; }
  static bool IsValid(Value value) noexcept { return value != nullptr; }
  static void Close(Value value) noexcept { BCryptDestroyKey(value); }
};
}  // namespace handle_traits

using UniqueHandle = UniqueResource<handle_traits::Kernel>;
using UniqueFile = UniqueResource<handle_traits::File>;
using UniqueFind = UniqueResource<handle_traits::Find>;
// Destroys its window; only the thread that created the window may let it go.
using UniqueWindow = UniqueResource<handle_traits::Window>;
using UniqueSocket = UniqueResource<handle_traits::Socket>;
using UniqueLocal = UniqueResource<handle_traits::Local>;
using UniqueBCryptAlgorithm = UniqueResource<handle_traits::BCryptAlgorithm>;
using UniqueBCryptKey = UniqueResource<handle_traits::BCryptKey>;

}  // namespace kestrivon::win
