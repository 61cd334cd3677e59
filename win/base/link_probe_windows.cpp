// Only the file-API header: the engine stays free of <windows.h>.
#include <fileapi.h>

#include "core/link_probe.h"

namespace kestrivon::core {

// The standard library here reports junctions as plain folders, so the attributes decide:
// every reparse point counts as a link.
bool IsLinkOrJunction(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace kestrivon::core
