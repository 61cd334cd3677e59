#include "handoff/app_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace kestrivon::win {
namespace {

using Lines = std::vector<std::string>;

TEST(AppLink, IsAppLinkAndFindAppLink) {
  const std::pair<std::string, bool> cases[] = {
      {"KeStRiVoN://x", true},         // 13 bytes: the shortest
      {"kestrivon://\xc3\xbc", true},  // bytes from 0x80 on are allowed
      {"kestrivon://" + std::string(4084, 'x'), true},
      {"kestrivon://" + std::string(4085, 'x'), false},
      {"kestrivon://", false},
      {"kestrivonx://a", false},
      {" kestrivon://open", false},
      {"kestrivon://a\x7f", false},
      {"kestrivon://a\tb", false},
  };
  for (const auto& [text, link] : cases) EXPECT_EQ(IsAppLink(text), link) << text.substr(0, 30);
  EXPECT_EQ(FindAppLink({"--flag", "kestrivon://", "KESTRIVON://first", "kestrivon://second"}),
            "KESTRIVON://first");
  EXPECT_EQ(FindAppLink({"--flag"}), std::nullopt);
}

// A launcher listening at `path`: accepts one connection within 2 s, reads the request up to
// its line feed, sends `reply` and hangs up; without a reply it waits for the client to go.
// Yields what the client sent (empty when nobody connected).
std::future<std::string> FakeLauncher(const std::string& path, std::optional<std::string> reply) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{AF_UNIX, {}};
  // Linux takes a path that fills all 108 bytes, without a NUL.
  std::memcpy(address.sun_path, path.data(), path.size());
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_EQ(listen(fd, 1), 0);
  return std::async(std::launch::async, [fd, reply] {
    std::string request;
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 2000) == 1) {
      const int client = accept(fd, nullptr, nullptr);
      for (char c = 0; request.size() < 8192 && recv(client, &c, 1, 0) == 1;) {
        request += c;
        if (c == '\n') break;
      }
      if (reply) send(client, reply->data(), reply->size(), MSG_NOSIGNAL);
      pollfd hangUp{client, POLLIN, 0};
      if (!reply) poll(&hangUp, 1, 5000);
      close(client);
    }
    close(fd);
    return request;
  });
}

TEST(AppLinkHandOff, ReplyAndPathDecideAndNothingToTryIsSilent) {
  const std::string link = "kestrivon://open/\u00dcber?x=\"1\" y";
  const testing::TempDir dir;
  const auto writeEndpoint = [&dir](std::string_view bytes) {
    std::ofstream(dir.path() / kAppLinkEndpointFile, std::ios::binary) << bytes;
  };
  const struct {
    std::optional<std::string> reply;  // none: the launcher never answers
    std::string endpointEnd;
    size_t pathLength;  // 107 fills the address with its NUL; 108 does not fit
    bool taken;
  } cases[] = {
      {"OK\n", "", 60, true},    {"OK\nand more", "\r\n", 107, true}, {"ok\n", "\n", 60, false},
      {"OK\r\n", "", 60, false}, {std::nullopt, "\n", 60, false},     {"OK\n", "\r\n", 108, false},
  };
  int sockets = 0;
  for (const auto& c : cases) {
    std::string path = (dir.path() / "s").string() + std::to_string(sockets++);
    path.append(c.pathLength - path.size(), 'x');
    std::future<std::string> launcher = FakeLauncher(path, c.reply);
    writeEndpoint(path + c.endpointEnd);
    const testing::LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HandOffAppLink(dir.path(), link), c.taken) << c.reply.value_or("(silent)");
    if (!c.reply) {
      const auto waited = std::chrono::steady_clock::now() - start;
      EXPECT_GE(waited, std::chrono::milliseconds(1900));
      EXPECT_LT(waited, std::chrono::milliseconds(4000));
    }
    const bool fits = c.pathLength <= 107;
    EXPECT_EQ(launcher.get(), fits ? "OPEN " + link + "\n" : "");
    EXPECT_EQ(log.Texts(), Lines{c.taken ? "[INFO] App link handed to the running launcher"
                                 : fits  ? "[INFO] No running launcher took the app link"
                                         : "[WARN] App link endpoint path is unusable: " + path});
  }

  const testing::LogCapture log;
  EXPECT_FALSE(HandOffAppLink(dir.path(), "kestrivon://"));
  writeEndpoint("\r\n\r\n");
  EXPECT_FALSE(HandOffAppLink(dir.path(), link));
  std::filesystem::remove(dir.path() / kAppLinkEndpointFile);
  EXPECT_FALSE(HandOffAppLink(dir.path(), link));
  EXPECT_EQ(log.Texts(), Lines{});
  // The endpoint file is never read further than its limit.
  writeEndpoint(std::string(3 * kMaxEndpointFileBytes, '/'));
  EXPECT_EQ(ReadAppLinkEndpoint(dir.path()), std::string(kMaxEndpointFileBytes, '/'));
}

}  // namespace
}  // namespace kestrivon::win
