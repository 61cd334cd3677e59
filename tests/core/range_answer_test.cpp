#include "core/range_answer.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrivon::core {
namespace {

TEST(RangeAnswer, OnlyAnExactContinuationIsAppended) {
  using enum RangeAnswer;
  constexpr uint64_t kept = 1000;
  constexpr uint64_t size = 5000;
  const struct {
    uint32_t status;
    bool rangeSent;
    const char* contentRange;
    uint64_t expected;
    RangeAnswer answer;
  } cases[] = {
      {206, true, "bytes 1000-4999/5000", size, Append},
      {200, true, "", size, FromZero},  // the server ignored the range or the file changed
      {200, false, "bytes 1000-4999/5000", size, FromZero},
      {206, false, "bytes 0-4999/5000", size, Restart},  // no range was asked for
      {416, true, "bytes */5000", size, Restart},
      {206, true, "bytes 1001-4999/5000", size, Restart},  // a byte late
      {206, true, "bytes 999-4999/5000", size, Restart},
      {206, true, "bytes 1000-4998/5000", size, Restart},  // stops short
      {206, true, "bytes 1000-5999/6000", size, Restart},  // another total: another file
      {206, true, "bytes 1000-4999/*", size, Restart},
      {206, true, "", size, Restart},
      {206, true, "bytes 1000-4999/5000", 0, Restart},  // nothing to check the total against
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeRangeAnswer(c.status, c.rangeSent, c.contentRange, kept, c.expected), c.answer)
        << c.status << " " << c.contentRange;
  }
}

TEST(RangeAnswer, ContentRangeIsParsedStrictly) {
  const auto range = ParseContentRange("bytes 0-0/1");
  ASSERT_TRUE(range);
  EXPECT_EQ(range->last, 0u);
  EXPECT_EQ(ParseContentRange("bytes 7-18446744073709551614/18446744073709551615")->total,
            18446744073709551615u);
  for (const char* bad :
       {"bytes 5-4/10", "bytes 0-10/10", "bytes -1-4/10", "bytes +1-4/10", "bytes 1-4/10 ",
        "Bytes 1-4/10", "bytes 1 -4/10", "bytes 1-4/", "bytes 1-4",
        "bytes 1-4/18446744073709551616", "bytes */10", "bytes 0x1-4/10"}) {
    EXPECT_FALSE(ParseContentRange(bad)) << bad;
  }
}

TEST(RangeAnswer, ValidatorIsAStrongTagOrADateThatFitsAHeader) {
  const std::string date = "Sun, 06 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(PickValidator("\"5f-1a\"", date), "\"5f-1a\"");
  EXPECT_EQ(PickValidator("W/\"5f-1a\"", date), date);  // weak tags may not stand in If-Range
  EXPECT_EQ(PickValidator("5f-1a", date), date);
  EXPECT_EQ(PickValidator("\"a\r\nX-Evil: 1\"", ""), "");
  EXPECT_EQ(PickValidator("", "Sun\x01"), "");
  EXPECT_EQ(PickValidator("\"" + std::string(199, 'a') + "\"", ""), "");
  EXPECT_EQ(PickValidator("", "\xc3\xa9"), "");
}

}  // namespace
}  // namespace kestrivon::core
