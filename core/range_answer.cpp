#include "core/range_answer.h"

#include <algorithm>
#include <charconv>

namespace kestrivon::core {
namespace {

constexpr size_t kMaxValidatorLength = 200;

// A run of decimal digits that fits 64 bits; advances `text` past it.
std::optional<uint64_t> TakeNumber(std::string_view& text) {
  uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop == text.data()) return std::nullopt;
  text.remove_prefix(static_cast<size_t>(stop - text.data()));
  return value;
}

bool TakeChar(std::string_view& text, char c) {
  if (text.empty() || text.front() != c) return false;
  text.remove_prefix(1);
  return true;
}

}  // namespace

bool IsUsableValidator(std::string_view text) {
  return !text.empty() && text.size() <= kMaxValidatorLength &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::optional<ContentRange> ParseContentRange(std::string_view text) {
  constexpr std::string_view unit = "bytes ";
  if (!text.starts_with(unit)) return std::nullopt;
  text.remove_prefix(unit.size());
  // from_chars takes a sign; a range never has one.
  if (!text.empty() && (text.front() < '0' || text.front() > '9')) return std::nullopt;
  ContentRange range;
  const auto first = TakeNumber(text);
  if (!first || !TakeChar(text, '-') || text.empty() || text.front() < '0' || text.front() > '9') {
    return std::nullopt;
  }
  const auto last = TakeNumber(text);
  if (!last || !TakeChar(text, '/') || text.empty() || text.front() < '0' || text.front() > '9') {
    return std::nullopt;
  }
  const auto total = TakeNumber(text);
  if (!total || !text.empty() || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

RangeAnswer JudgeRangeAnswer(uint32_t status, bool rangeSent, std::string_view contentRange,
                             uint64_t kept, uint64_t expectedSize) {
  if (status == 200) return RangeAnswer::FromZero;
  if (status != 206 || !rangeSent || expectedSize == 0) return RangeAnswer::Restart;
  const auto range = ParseContentRange(contentRange);
  if (!range || range->first != kept || range->total != expectedSize ||
      range->last != expectedSize - 1) {
    return RangeAnswer::Restart;
  }
  return RangeAnswer::Append;
}

std::string PickValidator(std::string_view etag, std::string_view lastModified) {
  // A weak tag may not stand in If-Range; a quoted strong one may.
  if (IsUsableValidator(etag) && etag.size() >= 2 && etag.front() == '"' && etag.back() == '"') {
    return std::string(etag);
  }
  if (IsUsableValidator(lastModified)) return std::string(lastModified);
  return {};
}

}  // namespace kestrivon::core
