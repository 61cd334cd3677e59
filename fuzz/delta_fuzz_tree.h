#pragma once

// The installed copy that the delta fuzz targets patch against; the seeds in
// fuzz/corpus/delta_apply and patch_decode are made from the same bytes.

#include <string>

namespace kestrivon::fuzz {

// "bin/big": byte i is i * 7 mod 251.
inline std::string InstalledBig() {
  std::string bytes(20'000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 % 251);
  return bytes;
}

inline const std::string kInstalledKeep = "unchanged\n";

}  // namespace kestrivon::fuzz
