#include "core/json_read.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrivon::core {
namespace {

std::string Error(std::string_view text) {
  const auto result = ParseJson(text);
  return result ? "accepted" : result.error();
}

TEST(ParseJson, RejectsEmptyMalformedAndTooDeepDocuments) {
  EXPECT_EQ(Error(""), "empty document");
  EXPECT_TRUE(Error("   ").starts_with("malformed JSON: [json.exception.parse_error"))
      << Error("   ");
  EXPECT_TRUE(Error("{} trailing").starts_with("malformed JSON: "));
  EXPECT_TRUE(Error(R"({"a":1 /* comment */})").starts_with("malformed JSON: "));

  EXPECT_EQ(Error(std::string(100, '[') + std::string(100, ']')), "accepted");
  EXPECT_EQ(Error(std::string(101, '[') + std::string(101, ']')), "JSON nested too deeply");
  // The limit is checked before parsing, so even an unterminated document is caught by it.
  EXPECT_EQ(Error(std::string(5000, '{')), "JSON nested too deeply");

  // Brackets inside strings do not count, also behind an escaped quotation mark.
  const std::string inString = R"({"k":"\"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[)" +
                               std::string(120, '[') + R"(\\"})";
  EXPECT_EQ(Error(inString), "accepted");
}

}  // namespace
}  // namespace kestrivon::core
