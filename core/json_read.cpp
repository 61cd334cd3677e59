#include "core/json_read.h"

#include <fmt/format.h>

namespace kestrivon::core {
namespace {

// The depth limit is enforced by one pass over the bytes before the parser sees them, so a
// hostile document cannot drive the parser into deep recursion.
bool NestedTooDeeply(std::string_view text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > maxJsonDepth) return true;
        break;
      case ']':
      case '}':
        --depth;
        break;
      default:
        break;
    }
  }
  return false;
}

}  // namespace

std::expected<nlohmann::json, std::string> ParseJson(std::string_view text) {
  if (text.empty()) return std::unexpected(std::string("empty document"));
  if (NestedTooDeeply(text)) return std::unexpected(std::string("JSON nested too deeply"));
  try {
    return nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/true,
                                 /*ignore_comments=*/false);
  } catch (const std::exception& error) {
    return std::unexpected(fmt::format("malformed JSON: {}", error.what()));
  }
}

std::string StringMember(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return {};
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

}  // namespace kestrivon::core
