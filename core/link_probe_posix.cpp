#include <system_error>

#include "core/link_probe.h"

namespace kestrivon::core {

bool IsLinkOrJunction(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::is_symlink(std::filesystem::symlink_status(path, error));
}

}  // namespace kestrivon::core
