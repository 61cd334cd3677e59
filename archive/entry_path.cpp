#include "archive/entry_path.h"

#include <algorithm>
#include <array>
#include <vector>

#include <fmt/format.h>

#include "core/ascii.h"

namespace kestrivon::archive {
namespace {

// Length of the well-formed, non-NUL UTF-8 sequence at `at`, or 0.
size_t SequenceLength(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead == 0) return 0;
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t code = 0;
  uint32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    code = lead & 0x1Fu;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    code = lead & 0x0Fu;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    code = lead & 0x07u;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  // Overlong forms, surrogates and code points beyond Unicode have no UTF-16 form.
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsJunkName(std::string_view component) {
  static constexpr std::array<std::string_view, 4> kJunk = {".ds_store", "thumbs.db", "desktop.ini",
                                                            "__macosx"};
  return std::any_of(kJunk.begin(), kJunk.end(), [&](std::string_view junk) {
    return core::EqualsIgnoringAsciiCase(component, junk);
  });
}

EntryPathVerdict NormalizeEntryPath(std::string_view name, std::string& normalized) {
  normalized.clear();
  if (name.empty()) return EntryPathVerdict::Skip;

  std::string text(name);
  std::replace(text.begin(), text.end(), '\\', '/');
  if (text[0] == '/') return EntryPathVerdict::Unsafe;
  if (text.size() >= 2 && core::IsAsciiLetter(text[0]) && text[1] == ':') {
    return EntryPathVerdict::Unsafe;
  }

  std::vector<std::string_view> components;
  std::string_view rest(text);
  while (!rest.empty()) {
    const size_t slash = rest.find('/');
    const std::string_view component = rest.substr(0, slash);
    if (!component.empty()) components.push_back(component);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  if (components.empty()) return EntryPathVerdict::Skip;

  for (std::string_view component : components) {
    if (component == "..") return EntryPathVerdict::Unsafe;
  }
  if (core::EqualsIgnoringAsciiCase(components.front(), "meta-inf")) return EntryPathVerdict::Skip;
  for (std::string_view component : components) {
    // Windows drops a trailing dot or space from a name unless it is given in the long form,
    // so such a name would mean one file to us and another to every other program.
    if (component == "." || IsJunkName(component) ||
        component.find(':') != std::string_view::npos || component.back() == '.' ||
        component.back() == ' ') {
      return EntryPathVerdict::Skip;
    }
  }

  for (std::string_view component : components) {
    if (!normalized.empty()) normalized += '/';
    normalized += component;
  }
  return EntryPathVerdict::Accept;
}

bool IsUtf8PathText(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string PrintableName(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const size_t length = SequenceLength(text, at);
    if (length == 0) {
      out += fmt::format("\\x{:02X}", static_cast<unsigned char>(text[at]));
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

}  // namespace kestrivon::archive
