#pragma once

// The few socket calls of the app-link exchange, one implementation per platform (Winsock on
// Windows, POSIX elsewhere), so that the exchange above them is the same everywhere.

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrivon::win {

// One connecting Unix-domain stream socket, closed with the object.
class LocalSocket {
 public:
  // Nothing when the socket library could not be started (Windows: WSAStartup 2.2, once per
  // process and never cleaned up) or the socket could not be created.
  static std::optional<LocalSocket> Open();

  LocalSocket(LocalSocket&& other) noexcept;
  LocalSocket& operator=(LocalSocket&& other) noexcept;
  ~LocalSocket();

  // Receive, then send time-out; failures are not reported.
  void SetTimeouts(std::chrono::milliseconds timeout);
  // `path`: bytes in the platform's path encoding, at most 107.
  bool Connect(std::string_view path);
  // Sends until everything is out; false as soon as one send returns 0 or less.
  bool SendAll(std::string_view bytes);
  // One receive of at most `limit` bytes; empty on an error, a time-out or a closed
  // connection.
  std::string ReceiveOnce(size_t limit);

 private:
  struct Native;
  explicit LocalSocket(std::unique_ptr<Native> native);

  std::unique_ptr<Native> native_;
};

// The socket path bytes for UTF-8 text: in the process's ANSI code page on Windows, unchanged
// elsewhere. Nothing when the text cannot be expressed there.
std::optional<std::string> LocalSocketPath(std::string_view utf8);

}  // namespace kestrivon::win
