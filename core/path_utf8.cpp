#include "core/path_utf8.h"

namespace kestrivon::core {

std::string PathToUtf8(const std::filesystem::path& path) {
  try {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
  } catch (...) {
    // Unpaired surrogates in a Windows name have no UTF-8 form.
    return {};
  }
}

std::filesystem::path PathFromUtf8(std::string_view text) {
  try {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
  } catch (...) {
    return {};
  }
}

}  // namespace kestrivon::core
