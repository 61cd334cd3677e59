#include "core/json_read.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrivon::core {
namespace {

TEST(ParseJson, RejectsEmptyMalformedAndTooDeepDocuments) {
  EXPECT_EQ(ParseJson("").error(), "empty document");
  const auto spaces = ParseJson("   ");
  ASSERT_FALSE(spaces.has_value());
  EXPECT_TRUE(spaces.error().starts_with("malformed JSON: [json.exception.parse_error"))
      << spaces.error();
  EXPECT_TRUE(ParseJson("{} trailing").error().starts_with("malformed JSON: "));
  EXPECT_TRUE(ParseJson(R"({"a":1 /* comment */})").error().starts_with("malformed JSON: "));

  EXPECT_TRUE(ParseJson(std::string(100, '[') + std::string(100, ']')).has_value());
  EXPECT_EQ(ParseJson(std::string(101, '[') + std::string(101, ']')).error(),
            "JSON nested too deeply");
  // The limit is checked before parsing, so even an unterminated document is caught by it.
  EXPECT_EQ(ParseJson(std::string(5000, '{')).error(), "JSON nested too deeply");

  // Brackets inside strings do not count, also behind an escaped quotation mark.
  const std::string inString = R"({"k":"\"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[)" +
                               std::string(120, '[') + R"(\\"})";
  EXPECT_TRUE(ParseJson(inString).has_value()) << ParseJson(inString).error();
}

}  // namespace
}  // namespace kestrivon::core
