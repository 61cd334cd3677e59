#include "core/log.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace kestrivon::core {
namespace {

TEST(Log, WithoutSinkNothingHappens) {
  SetLogSink(nullptr);
  Log(LogLevel::Error, "dropped");
}

TEST(Log, SinkReceivesFormattedLines) {
  std::vector<std::pair<LogLevel, std::string>> lines;
  SetLogSink([&](LogLevel level, std::string_view text) { lines.emplace_back(level, text); });
  Log(LogLevel::Info, "plain");
  LogFormat(LogLevel::Warning, "Retrying {} download in {} ms (attempt {}/{})", "CDN", 1000, 2, 4);
  SetLogSink(nullptr);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], std::pair(LogLevel::Info, std::string("plain")));
  EXPECT_EQ(lines[1].first, LogLevel::Warning);
  EXPECT_EQ(lines[1].second, "Retrying CDN download in 1000 ms (attempt 2/4)");
}

TEST(Log, ShortDigest) {
  EXPECT_EQ(ShortDigest(""), "none");
  EXPECT_EQ(ShortDigest("abc"), "abc...");
  EXPECT_EQ(ShortDigest("0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef"),
            "01234567...");
}

}  // namespace
}  // namespace kestrivon::core
