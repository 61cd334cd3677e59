#pragma once

// The rules of a resumed HTTP transfer: what a server's answer to a ranged request allows,
// and which validator a later request may name in If-Range.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrivon::core {

// "bytes first-last/total", all three numbers present.
struct ContentRange {
  uint64_t first = 0;
  uint64_t last = 0;
  uint64_t total = 0;
};

// Strict: decimal digits only, first <= last < total; anything else is empty.
std::optional<ContentRange> ParseContentRange(std::string_view text);

enum class RangeAnswer : uint8_t {
  Append,    // a 206 that continues exactly at the kept length and ends at the expected total
  FromZero,  // a whole body (200): the kept bytes are dropped and the body written from zero
  Restart,   // 416 or anything inconsistent: drop everything and ask again without a range
};

// `status` is 200, 206 or 416 (other statuses are failures decided elsewhere). `rangeSent`
// tells whether the request asked for the bytes from `kept` on; `expectedSize` is the
// manifest's size (0 when unknown, which never allows an append).
RangeAnswer JudgeRangeAnswer(uint32_t status, bool rangeSent, std::string_view contentRange,
                             uint64_t kept, uint64_t expectedSize);

// The value a later If-Range may carry: a strong ETag, else a Last-Modified date; empty when
// neither is usable. Text that could break a request header (controls, non-ASCII, over 200
// characters) is never usable.
std::string PickValidator(std::string_view etag, std::string_view lastModified);

// Whether a stored validator may be sent back in a request header.
bool IsUsableValidator(std::string_view validator);

}  // namespace kestrivon::core
