#pragma once

// Streaming SHA-256 (FIPS 180-4) and the digest of a file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <string>

#include "core/sha256_block.h"

namespace kestrivon::core {

class Sha256 {
 public:
  Sha256();
  void Update(const uint8_t* data, size_t length);
  // Pads and yields the digest; the state is not reused afterwards.
  std::array<uint8_t, 32> Finish();

 private:
  Sha256BlockFunction compress_;
  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> block_{};
  size_t blockLength_ = 0;
  uint64_t totalLength_ = 0;
};

// Finishes the hasher; 64 lower-case hexadecimal digits.
std::string ToHex(Sha256& hasher);

// The file's digest, or "can't open {}", "read error on {}", "cancelled".
// `cancelled` may be empty; it is polled before each 1 MiB read.
std::expected<std::string, std::string> Sha256File(const std::filesystem::path& file,
                                                   const std::function<bool()>& cancelled);

// Feeds the first `length` bytes of the file to `hasher` (a kept download's prefix); "can't
// open {}", "read error on {}" (also when the file is shorter) or "cancelled".
std::expected<void, std::string> HashFilePrefix(const std::filesystem::path& file, uint64_t length,
                                                Sha256& hasher,
                                                const std::function<bool()>& cancelled);

}  // namespace kestrivon::core
