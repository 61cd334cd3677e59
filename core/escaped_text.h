#pragma once

// Text from a manifest, a server or an archive, made safe to write into a log line or to show
// on screen: it must not start a new line, move the cursor, or turn the rest of the line
// around with a bidirectional override.

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrivon::core {

// Length of the well-formed, non-NUL UTF-8 sequence at `at`, or 0.
size_t Utf8SequenceLength(std::string_view text, size_t at);

// Control characters (C0, DEL, C1) and bidirectional formatting characters (LRM, RLM, ALM,
// the embeddings, overrides and isolates) written as "\xNN" or "\u{XXXX}"; bytes that are not
// well-formed UTF-8 (and NUL) written as "\xNN". Everything else is kept.
std::string EscapeText(std::string_view text);

// True when the text holds a control or bidirectional formatting character: such a text is
// never a version.
bool HasControlOrBidiCharacter(std::string_view text);

}  // namespace kestrivon::core
