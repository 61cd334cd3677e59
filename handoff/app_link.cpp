#include "handoff/app_link.h"

#include <chrono>
#include <fstream>

#include "core/ascii.h"
#include "core/log.h"
#include "core/long_path.h"
#include "core/no_throw.h"
#include "handoff/local_socket.h"

namespace kestrivon::win {

namespace {

constexpr std::string_view kScheme = "kestrivon";
constexpr std::string_view kSchemeSeparator = "://";
constexpr size_t kMinAppLinkBytes = 13;  // the scheme, "://" and one byte
constexpr size_t kMaxAppLinkBytes = 4096;
constexpr std::chrono::milliseconds kExchangeTimeout{2000};
// The reply is read once; only its first three bytes count.
constexpr size_t kReplyLimit = 7;

}  // namespace

bool IsAppLink(std::string_view text) {
  if (text.size() < kMinAppLinkBytes || text.size() > kMaxAppLinkBytes) return false;
  if (!core::EqualsIgnoringAsciiCase(text.substr(0, kScheme.size()), kScheme)) return false;
  if (text.substr(kScheme.size(), kSchemeSeparator.size()) != kSchemeSeparator) return false;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

std::optional<std::string> FindAppLink(const std::vector<std::string>& arguments) {
  for (const std::string& argument : arguments) {
    if (IsAppLink(argument)) return argument;
  }
  return std::nullopt;
}

std::optional<std::string> ParseAppLinkEndpoint(std::string_view fileBytes) {
  const size_t end = fileBytes.find_last_not_of("\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(fileBytes.substr(0, end + 1));
}

std::optional<std::string> ReadAppLinkEndpoint(const std::filesystem::path& installDir) {
  std::ifstream in(core::LongPath(installDir / kAppLinkEndpointFile), std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes(kMaxEndpointFileBytes, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return ParseAppLinkEndpoint(bytes);
}

std::string AppLinkRequest(std::string_view link) {
  std::string request = "OPEN ";
  request += link;
  request += '\n';
  return request;
}

bool IsAppLinkAccepted(std::string_view reply) { return reply.starts_with("OK\n"); }

bool HandOffAppLink(const std::filesystem::path& installDir, std::string_view link) {
  return core::CallNoThrow(
      "App link handoff",
      [&] {
        if (!IsAppLink(link)) return false;
        const std::optional<std::string> endpoint = ReadAppLinkEndpoint(installDir);
        if (!endpoint) return false;
        const std::optional<std::string> path = LocalSocketPath(*endpoint);
        if (!path || path->size() > kMaxSocketPathBytes) {
          core::LogFormat(core::LogLevel::Warning, "App link endpoint path is unusable: {}",
                          *endpoint);
          return false;
        }
        std::optional<LocalSocket> socket = LocalSocket::Open();
        if (!socket) return false;
        socket->SetTimeouts(kExchangeTimeout);
        const bool accepted = socket->Connect(*path) && socket->SendAll(AppLinkRequest(link)) &&
                              IsAppLinkAccepted(socket->ReceiveOnce(kReplyLimit));
        socket.reset();
        core::Log(core::LogLevel::Info, accepted ? "App link handed to the running launcher"
                                                 : "No running launcher took the app link");
        return accepted;
      },
      false);
}

}  // namespace kestrivon::win
