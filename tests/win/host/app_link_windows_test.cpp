// The handoff's Windows side: the endpoint path in the process's ANSI code page. The exchange
// itself is tested natively (Wine has no AF_UNIX sockets).

#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wine_test_support.h"
#include "win/host/app_link.h"

namespace kestrivon::win {
namespace {

TEST(AppLinkWindows, EndpointOutsideTheAnsiCodePageIsUnusable) {
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "every path fits a UTF-8 process code page";
  testing::TempDir dir;
  const std::string endpoint = "C:\\\xe6\xb8\xb8\xe6\x88\x8f.sock";  // C:\游戏.sock
  ASSERT_TRUE(testing::WriteFileBytes(dir.path() / kAppLinkEndpointFile, endpoint + "\r\n"));
  const testing::LogCapture log;
  EXPECT_FALSE(HandOffAppLink(dir.path(), kDefaultAppLink));
  EXPECT_EQ(log.Texts(),
            std::vector<std::string>{"[WARN] App link endpoint path is unusable: " + endpoint});
}

}  // namespace
}  // namespace kestrivon::win
