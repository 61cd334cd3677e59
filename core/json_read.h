#pragma once

// Reading JSON documents: strict parsing with a nesting limit, lenient member access. The
// manifest and the installed-version record both read through here.

#include <expected>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace kestrivon::core {

inline constexpr int maxJsonDepth = 100;

// Strict JSON (no comments, nothing after the value) with a nesting limit checked before the
// parser runs.
std::expected<nlohmann::json, std::string> ParseJson(std::string_view text);

// The member's text; empty when `object` is no object or the member is missing or no string.
std::string StringMember(const nlohmann::json& object, const char* key);

}  // namespace kestrivon::core
