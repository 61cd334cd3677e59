#pragma once

// Handing an app link (a "kestrivon://" link) to a running launcher over its Unix-domain
// socket: "OPEN " + link + "\n" out, "OK\n" back. Free of Windows types: the rules are pure
// functions on bytes, and the socket calls sit behind local_socket.h, so the whole exchange
// also runs natively against a real listener.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrivon::win {

inline constexpr char kAppLinkEndpointFile[] = "launcher-app-link.endpoint";
// Offered to a running launcher when the updater was started without a link.
inline constexpr char kDefaultAppLink[] = "kestrivon://open";
// The socket address holds 108 path bytes including the terminating NUL.
inline constexpr size_t kMaxSocketPathBytes = 107;
// The endpoint file is never read further than this; a longer text is unusable anyway.
inline constexpr size_t kMaxEndpointFileBytes = 4096;

// 13 to 4096 bytes, "kestrivon" in any ASCII case, then "://", no control byte (below 0x20
// or 0x7F); bytes from 0x80 on are allowed.
bool IsAppLink(std::string_view text);

// The first argument that is an app link.
std::optional<std::string> FindAppLink(const std::vector<std::string>& arguments);

// The endpoint file's bytes without trailing line ends; nothing when that leaves nothing.
std::optional<std::string> ParseAppLinkEndpoint(std::string_view fileBytes);

// ParseAppLinkEndpoint of "launcher-app-link.endpoint" in the install directory (at most its
// first kMaxEndpointFileBytes); nothing when it cannot be opened.
std::optional<std::string> ReadAppLinkEndpoint(const std::filesystem::path& installDir);

// "OPEN " + link + "\n".
std::string AppLinkRequest(std::string_view link);

// Whether the launcher's reply takes the link: it begins with "OK\n".
bool IsAppLinkAccepted(std::string_view reply);

// True only when a running launcher answered "OK\n". Every failure falls back silently to the
// caller's normal run; the reason is logged as designed. Never throws.
bool HandOffAppLink(const std::filesystem::path& installDir, std::string_view link);

}  // namespace kestrivon::win
