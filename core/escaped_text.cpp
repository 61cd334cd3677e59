#include "core/escaped_text.h"

#include <cstdint>

#include <fmt/format.h>

namespace kestrivon::core {
namespace {

// The code point of a sequence Utf8SequenceLength accepted.
uint32_t CodePoint(std::string_view text, size_t at, size_t length) {
  static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
  uint32_t code = static_cast<unsigned char>(text[at]) & kLeadMask[length];
  for (size_t i = 1; i < length; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3Fu);
  }
  return code;
}

constexpr bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

constexpr bool IsBidiFormatting(uint32_t code) {
  return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
         (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead == 0) return 0;
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return 0;
  }
  const uint32_t code = CodePoint(text, at, length);
  // Overlong forms, surrogates and code points beyond Unicode have no UTF-16 form.
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string EscapeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      out += fmt::format("\\x{:02X}", static_cast<unsigned char>(text[at]));
      ++at;
      continue;
    }
    const uint32_t code = CodePoint(text, at, length);
    if (code < 0x80 && IsControl(code)) {
      out += fmt::format("\\x{:02X}", code);
    } else if (IsControl(code) || IsBidiFormatting(code)) {
      out += fmt::format("\\u{:04X}", code);
    } else {
      out.append(text, at, length);
    }
    at += length;
  }
  return out;
}

bool HasControlOrBidiCharacter(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      if (text[at] == '\0') return true;
      ++at;
      continue;
    }
    const uint32_t code = CodePoint(text, at, length);
    if (IsControl(code) || IsBidiFormatting(code)) return true;
    at += length;
  }
  return false;
}

}  // namespace kestrivon::core
