// Fuzz target: the app-link rules on a command line and an endpoint file. The input is split
// at NUL bytes into arguments; the whole input is also the endpoint file's content. The
// socket exchange itself is left out: it would connect to whatever path the input names.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/ascii.h"
#include "fuzz/fuzz_check.h"
#include "handoff/app_link.h"

void kestrivon::fuzz::TestOneInput(std::string_view bytes) {
  std::vector<std::string> arguments;
  for (size_t start = 0; start <= bytes.size();) {
    const size_t end = std::min(bytes.find('\0', start), bytes.size());
    arguments.emplace_back(bytes.substr(start, end - start));
    start = end + 1;
  }
  const std::string* first = nullptr;
  for (const std::string& link : arguments) {
    if (!win::IsAppLink(link)) continue;
    if (first == nullptr) first = &link;
    const auto control = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    Check(link.size() >= 13 && link.size() <= 4096 &&
              core::EqualsIgnoringAsciiCase(link.substr(0, 12), "kestrivon://") &&
              std::none_of(link.begin(), link.end(), control),
          "link outside the rule");
    const std::string request = win::AppLinkRequest(link);
    Check(request.size() == link.size() + 6 && request.starts_with("OPEN ") &&
              request.find('\n') == request.size() - 1,
          "request is not one line");
  }
  const auto found = win::FindAppLink(arguments);
  Check(first == nullptr ? !found : found == *first, "not the first app link");
  (void)win::IsAppLinkAccepted(bytes);

  const auto endpoint = win::ParseAppLinkEndpoint(bytes);
  if (endpoint) {
    Check(!endpoint->empty() && bytes.starts_with(*endpoint), "endpoint is not the file's start");
    Check(bytes.substr(endpoint->size()).find_first_not_of("\r\n") == std::string_view::npos,
          "endpoint dropped more than line ends");
    Check(endpoint->back() != '\n' && endpoint->back() != '\r', "endpoint kept a line end");
  } else {
    Check(bytes.find_first_not_of("\r\n") == std::string_view::npos, "usable endpoint lost");
  }
  const std::filesystem::path& root = ScratchFolder("app-link");
  std::ofstream(root / win::kAppLinkEndpointFile, std::ios::binary | std::ios::trunc) << bytes;
  Check(win::ReadAppLinkEndpoint(root) ==
            win::ParseAppLinkEndpoint(bytes.substr(0, win::kMaxEndpointFileBytes)),
        "the file reads differently from its bytes");
}
