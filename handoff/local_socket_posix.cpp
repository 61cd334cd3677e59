#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "handoff/local_socket.h"

namespace kestrivon::win {

struct LocalSocket::Native {
  explicit Native(int descriptor) : fd(descriptor) {}
  ~Native() { close(fd); }
  Native(const Native&) = delete;
  Native& operator=(const Native&) = delete;

  const int fd;
};

std::optional<LocalSocket> LocalSocket::Open() {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return std::nullopt;
  return LocalSocket(std::make_unique<Native>(fd));
}

LocalSocket::LocalSocket(std::unique_ptr<Native> native) : native_(std::move(native)) {}
LocalSocket::LocalSocket(LocalSocket&& other) noexcept = default;
LocalSocket& LocalSocket::operator=(LocalSocket&& other) noexcept = default;
LocalSocket::~LocalSocket() = default;

void LocalSocket::SetTimeouts(std::chrono::milliseconds timeout) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
  setsockopt(native_->fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value));
  setsockopt(native_->fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof(value));
}

bool LocalSocket::Connect(std::string_view path) {
  sockaddr_un address{};
  if (path.size() >= sizeof(address.sun_path)) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), path.size());
  return connect(native_->fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

bool LocalSocket::SendAll(std::string_view bytes) {
  while (!bytes.empty()) {
    // A launcher that hung up must not end this process with SIGPIPE.
    const ssize_t sent = send(native_->fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

std::string LocalSocket::ReceiveOnce(size_t limit) {
  std::string buffer(limit, '\0');
  const ssize_t received = recv(native_->fd, buffer.data(), buffer.size(), 0);
  buffer.resize(received > 0 ? static_cast<size_t>(received) : 0);
  return buffer;
}

std::optional<std::string> LocalSocketPath(std::string_view utf8) { return std::string(utf8); }

}  // namespace kestrivon::win
