// UTF-8 / UTF-16 conversions: lengths that differ between the two forms and embedded NULs.

#include "win/host/text_encoding.h"

#include <string>

#include <gtest/gtest.h>

namespace kestrivon::win {
namespace {

TEST(TextEncoding, RoundTripsAcrossWidthChanges) {
  // Two-byte Cyrillic, a three-byte sign and a four-byte character (a surrogate pair).
  const std::string utf8 = "\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C \xE2\x82\xAC \xF0\x9F\x8E\xAE";
  const std::wstring wide = L"Путь \u20AC \U0001F3AE";
  EXPECT_EQ(WideFromUtf8(utf8), wide);
  EXPECT_EQ(Utf8FromWide(wide), utf8);
  EXPECT_EQ(WideFromUtf8(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
  EXPECT_EQ(Utf8FromWide(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

}  // namespace
}  // namespace kestrivon::win
