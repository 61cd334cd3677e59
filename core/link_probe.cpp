#include "core/link_probe.h"

#include <system_error>

#ifdef _WIN32
// The one attribute query the engine needs; declared here so that the engine stays free of
// the platform headers.
extern "C" __declspec(dllimport) unsigned long __stdcall GetFileAttributesW(const wchar_t* name);
#endif

namespace kestrivon::core {

bool IsLinkOrJunction(const std::filesystem::path& path) {
#ifdef _WIN32
  constexpr unsigned long kInvalidAttributes = 0xFFFFFFFF;
  constexpr unsigned long kReparsePoint = 0x400;
  const unsigned long attributes = GetFileAttributesW(path.c_str());
  return attributes != kInvalidAttributes && (attributes & kReparsePoint) != 0;
#else
  std::error_code error;
  return std::filesystem::is_symlink(std::filesystem::symlink_status(path, error));
#endif
}

}  // namespace kestrivon::core
