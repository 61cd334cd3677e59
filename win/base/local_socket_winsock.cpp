// Winsock 2 before anything that could pull in the old winsock.h.
#include <winsock2.h>
// afunix.h needs the address family type of Winsock 2.
#include <afunix.h>

#include <algorithm>
#include <cstring>

#include "handoff/local_socket.h"
#include "win/base/code_page.h"
#include "win/base/unique_handle.h"

namespace kestrivon::win {

namespace {

// Winsock for the rest of the process: started by the first use (thread-safe), cleaned up
// only by the static's destruction when the process exits.
class WinsockSession {
 public:
  WinsockSession() {
    WSADATA data{};
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockSession() {
    if (started_) WSACleanup();
  }
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;

  bool Started() const { return started_; }

 private:
  bool started_ = false;
};

bool StartWinsock() {
  static const WinsockSession session;
  return session.Started();
}

}  // namespace

struct LocalSocket::Native {
  UniqueSocket socket;
};

std::optional<LocalSocket> LocalSocket::Open() {
  if (!StartWinsock()) return std::nullopt;
  UniqueSocket socket(::socket(AF_UNIX, SOCK_STREAM, 0));
  if (!socket) return std::nullopt;
  auto native = std::make_unique<Native>();
  native->socket = std::move(socket);
  return LocalSocket(std::move(native));
}

LocalSocket::LocalSocket(std::unique_ptr<Native> native) : native_(std::move(native)) {}
LocalSocket::LocalSocket(LocalSocket&& other) noexcept = default;
LocalSocket& LocalSocket::operator=(LocalSocket&& other) noexcept = default;
LocalSocket::~LocalSocket() = default;

void LocalSocket::SetTimeouts(std::chrono::milliseconds timeout) {
  const DWORD milliseconds = static_cast<DWORD>(timeout.count());
  const SOCKET socket = native_->socket.Get();
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
             sizeof(milliseconds));
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&milliseconds),
             sizeof(milliseconds));
}

bool LocalSocket::Connect(std::string_view path) {
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return connect(native_->socket.Get(), reinterpret_cast<const sockaddr*>(&address),
                 sizeof(address)) == 0;
}

bool LocalSocket::SendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    const int chunk = static_cast<int>(std::min<size_t>(bytes.size(), 1 << 20));
    const int sent = send(native_->socket.Get(), bytes.data(), chunk, 0);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string LocalSocket::ReceiveOnce(size_t limit) {
  std::string buffer(limit, '\0');
  const int received = recv(native_->socket.Get(), buffer.data(), static_cast<int>(limit), 0);
  buffer.resize(received > 0 ? static_cast<size_t>(received) : 0);
  return buffer;
}

std::optional<std::string> LocalSocketPath(std::string_view utf8) { return Utf8ToAnsi(utf8); }

}  // namespace kestrivon::win
