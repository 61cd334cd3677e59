#include "archive/entry_path.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/ascii.h"
#include "core/escaped_text.h"

namespace kestrivon::archive {
namespace {

bool HasControlOrReservedCharacter(std::string_view component) {
  for (size_t at = 0; at < component.size(); ++at) {
    const auto byte = static_cast<unsigned char>(component[at]);
    // NUL is no text at all: the UTF-8 check refuses it as unsafe.
    if ((byte > 0 && byte < 0x20) || byte == 0x7F) return true;
    if (std::string_view("<>\"|?*").find(component[at]) != std::string_view::npos) return true;
    // U+0080..U+009F are C2 80..C2 9F in UTF-8.
    if (byte == 0xC2 && at + 1 < component.size() &&
        static_cast<unsigned char>(component[at + 1]) <= 0x9F &&
        static_cast<unsigned char>(component[at + 1]) >= 0x80) {
      return true;
    }
  }
  return false;
}

// The part before the first '.', without the spaces Windows ignores there ("nul .txt").
bool IsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kDevices = {"con", "prn",    "aux",
                                                               "nul", "conin$", "conout$"};
  if (std::any_of(kDevices.begin(), kDevices.end(), [&](std::string_view device) {
        return core::EqualsIgnoringAsciiCase(base, device);
      })) {
    return true;
  }
  if (base.size() < 4) return false;
  const std::string_view stem = base.substr(0, 3);
  if (!core::EqualsIgnoringAsciiCase(stem, "com") && !core::EqualsIgnoringAsciiCase(stem, "lpt")) {
    return false;
  }
  const std::string_view digit = base.substr(3);
  // Windows reserves the superscript digits too: U+00B9, U+00B2, U+00B3.
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
         digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

}  // namespace

bool IsUnusableWindowsName(std::string_view component) {
  return HasControlOrReservedCharacter(component) || IsDeviceName(component);
}

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
  for (std::string_view component : components) {
    if (IsUnusableWindowsName(component)) return EntryPathVerdict::Unusable;
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
    const size_t length = core::Utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

}  // namespace kestrivon::archive
