// The link rules by table, and the whole handoff against real AF_UNIX listeners standing in
// for a running launcher.

#include "win/host/app_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::win {
namespace {

using std::chrono::steady_clock;

TEST(AppLink, IsAppLink) {
  const struct {
    std::string text;
    bool link;
  } cases[] = {
      {"kestrivon://open", true},
      {"KESTRIVON://OPEN", true},
      {"KeStRiVoN://x", true},  // 13 bytes: the shortest
      {"kestrivon://", false},
      {"kestrivon:/xx", false},
      {"kestrivonx://a", false},
      {"https://kestrivon.net/x", false},
      {" kestrivon://open", false},
      {"kestrivon://a\tb", false},
      {"kestrivon://a\nb", false},
      {"kestrivon://a\x7f", false},
      {std::string("kestrivon://a\0b", 15), false},
      {"kestrivon://\xc3\xbc\x62\x65r", true},  // UTF-8 bytes are allowed
      {"kestrivon://" + std::string(4084, 'x'), true},
      {"kestrivon://" + std::string(4085, 'x'), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsAppLink(c.text), c.link) << c.text.substr(0, 40);
}

TEST(AppLink, FindAppLinkTakesTheFirstValidOne) {
  EXPECT_EQ(FindAppLink({"--flag", "kestrivon://", "KESTRIVON://first", "kestrivon://second"}),
            "KESTRIVON://first");
  EXPECT_EQ(FindAppLink({"--flag", "kestrivon:/x/y"}), std::nullopt);
  EXPECT_EQ(FindAppLink({}), std::nullopt);
}

TEST(AppLink, EndpointText) {
  const struct {
    std::string file;
    std::optional<std::string> endpoint;
  } cases[] = {
      {"/run/k.sock", "/run/k.sock"},
      {"/run/k.sock\r\n", "/run/k.sock"},
      {"/run/k.sock\n\r\n\r", "/run/k.sock"},
      {"a\nb\n", "a\nb"},
      {" /a ", " /a "},
      {"\r\n\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseAppLinkEndpoint(c.file), c.endpoint) << c.file;
}

// A launcher's listening socket at `path`: accepts one connection (waiting at most 2 s),
// reads the request up to its line feed, sends `reply` and closes; with no reply it holds the
// connection until the client hangs up.
class FakeLauncher {
 public:
  FakeLauncher(const std::string& path, std::optional<std::string> reply)
      : reply_(std::move(reply)) {
    fd_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    // Linux takes a path that fills all 108 bytes, without a NUL.
    std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof(address.sun_path)));
    listening_ = fd_ >= 0 && path.size() <= sizeof(address.sun_path) &&
                 bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                 listen(fd_, 1) == 0;
    if (listening_) thread_ = std::thread([this] { Serve(); });
  }
  ~FakeLauncher() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }

  bool Listening() const { return listening_; }
  // What the client sent; waits for the exchange to end.
  std::string Request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }
  bool Connected() {
    if (thread_.joinable()) thread_.join();
    return connected_;
  }

 private:
  void Serve() {
    pollfd waiting{fd_, POLLIN, 0};
    if (poll(&waiting, 1, 2000) != 1) return;
    const int client = accept(fd_, nullptr, nullptr);
    if (client < 0) return;
    connected_ = true;
    char c = 0;
    while (request_.size() < 8192 && recv(client, &c, 1, 0) == 1) {
      request_ += c;
      if (c == '\n') break;
    }
    if (reply_) {
      send(client, reply_->data(), reply_->size(), MSG_NOSIGNAL);
    } else {
      pollfd hangUp{client, POLLIN, 0};
      poll(&hangUp, 1, 5000);
    }
    close(client);
  }

  std::optional<std::string> reply_;
  int fd_ = -1;
  bool listening_ = false;
  std::thread thread_;
  std::string request_;
  bool connected_ = false;
};

class AppLinkHandOff : public ::testing::Test {
 protected:
  // A socket path in the temporary folder of exactly `length` bytes.
  std::string SocketPath(size_t length) {
    const std::string prefix = (dir_.path() / "s").string();
    EXPECT_LT(prefix.size(), length);
    return prefix + std::string(length - prefix.size(), 'x');
  }
  void WriteEndpoint(std::string_view bytes) {
    std::ofstream(dir_.path() / kAppLinkEndpointFile, std::ios::binary) << bytes;
  }

  const std::string link_ =
      "kestrivon://open/\xc3\x9c"
      "ber?x=\"1\" y";
  testing::TempDir dir_;
};

TEST_F(AppLinkHandOff, ReplyDecides) {
  const struct {
    std::string reply;
    std::string endpointEnd;
    bool taken;
  } cases[] = {
      {"OK\n", "", true},    {"OK\nand more", "\r\n", true},
      {"ok\n", "\n", false}, {"OK", "", false},
      {"OK\r\n", "", false}, {"", "", false},  // the launcher hangs up without a word
  };
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = SocketPath(60) + std::to_string(n++);
    FakeLauncher launcher(path, c.reply);
    ASSERT_TRUE(launcher.Listening());
    WriteEndpoint(path + c.endpointEnd);
    const testing::LogCapture log;
    EXPECT_EQ(HandOffAppLink(dir_.path(), link_), c.taken) << c.reply;
    EXPECT_EQ(launcher.Request(), "OPEN " + link_ + "\n");
    EXPECT_EQ(log.Texts(),
              std::vector<std::string>{c.taken ? "[INFO] App link handed to the running launcher"
                                               : "[INFO] No running launcher took the app link"})
        << c.reply;
  }
}

TEST_F(AppLinkHandOff, SilentLauncherIsGivenUpAfterTwoSeconds) {
  const std::string path = SocketPath(40);
  FakeLauncher launcher(path, std::nullopt);
  ASSERT_TRUE(launcher.Listening());
  WriteEndpoint(path + "\n");
  const testing::LogCapture log;
  const auto start = steady_clock::now();
  EXPECT_FALSE(HandOffAppLink(dir_.path(), link_));
  const auto elapsed = steady_clock::now() - start;
  EXPECT_GE(elapsed, std::chrono::milliseconds(1900));
  EXPECT_LT(elapsed, std::chrono::milliseconds(4000));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"[INFO] No running launcher took the app link"});
}

TEST_F(AppLinkHandOff, PathOf107BytesIsUsedAnd108IsNot) {
  for (const size_t length : {size_t{107}, size_t{108}}) {
    const std::string path = SocketPath(length);
    FakeLauncher launcher(path, "OK\n");
    ASSERT_TRUE(launcher.Listening()) << length;
    WriteEndpoint(path + "\r\n");
    const testing::LogCapture log;
    const bool usable = length == 107;
    EXPECT_EQ(HandOffAppLink(dir_.path(), link_), usable) << length;
    EXPECT_EQ(log.Texts().back(), usable ? "[INFO] App link handed to the running launcher"
                                         : "[WARN] App link endpoint path is unusable: " + path);
    EXPECT_EQ(launcher.Connected(), usable) << length;
  }
}

TEST_F(AppLinkHandOff, NothingToTryIsSilent) {
  const std::string path = SocketPath(50);
  const testing::LogCapture log;
  // No valid link; no endpoint file; an endpoint of line ends only.
  EXPECT_FALSE(HandOffAppLink(dir_.path(), "kestrivon://"));
  EXPECT_FALSE(HandOffAppLink(dir_.path(), link_));
  WriteEndpoint("\r\n\r\n");
  EXPECT_FALSE(HandOffAppLink(dir_.path(), link_));
  EXPECT_TRUE(log.Texts().empty()) << log.Dump();
  // An endpoint where nobody listens.
  WriteEndpoint(path);
  EXPECT_FALSE(HandOffAppLink(dir_.path(), link_));
  EXPECT_EQ(log.Texts(), std::vector<std::string>{"[INFO] No running launcher took the app link"});
}

TEST_F(AppLinkHandOff, EndpointFileIsReadNoFurtherThanItsLimit) {
  WriteEndpoint(std::string(3 * kMaxEndpointFileBytes, '/'));
  EXPECT_EQ(ReadAppLinkEndpoint(dir_.path()), std::string(kMaxEndpointFileBytes, '/'));
}

}  // namespace
}  // namespace kestrivon::win
