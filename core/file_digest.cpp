#include "core/file_digest.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include <fmt/format.h>

#include "core/long_path.h"
#include "core/path_utf8.h"
#include "core/read_ahead.h"

namespace kestrivon::core {
namespace {

constexpr size_t kReadBufferSize = 1024 * 1024;

constexpr std::array<uint32_t, 8> kInitialState = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

}  // namespace

Sha256::Sha256() : compress_(ActiveSha256Blocks()), state_(kInitialState) {}

void Sha256::Update(const uint8_t* data, size_t length) {
  totalLength_ += length;
  if (blockLength_ > 0) {
    const size_t take = std::min(block_.size() - blockLength_, length);
    std::memcpy(block_.data() + blockLength_, data, take);
    blockLength_ += take;
    data += take;
    length -= take;
    if (blockLength_ < block_.size()) return;
    compress_(state_.data(), block_.data(), 1);
    blockLength_ = 0;
  }
  // Whole blocks straight from the caller's buffer.
  const size_t blocks = length / 64;
  if (blocks > 0) {
    compress_(state_.data(), data, blocks);
    data += blocks * 64;
    length -= blocks * 64;
  }
  if (length > 0) std::memcpy(block_.data(), data, length);
  blockLength_ = length;
}

std::array<uint8_t, 32> Sha256::Finish() {
  const uint64_t bitLength = totalLength_ * 8;
  block_[blockLength_++] = 0x80;
  if (blockLength_ > 56) {
    std::fill(block_.begin() + static_cast<std::ptrdiff_t>(blockLength_), block_.end(), 0);
    compress_(state_.data(), block_.data(), 1);
    blockLength_ = 0;
  }
  std::fill(block_.begin() + static_cast<std::ptrdiff_t>(blockLength_), block_.begin() + 56, 0);
  for (int i = 0; i < 8; ++i) {
    block_[static_cast<size_t>(56 + i)] = static_cast<uint8_t>(bitLength >> (56 - 8 * i));
  }
  compress_(state_.data(), block_.data(), 1);
  blockLength_ = 0;

  std::array<uint8_t, 32> digest{};
  for (size_t i = 0; i < 8; ++i) {
    digest[4 * i + 0] = static_cast<uint8_t>(state_[i] >> 24);
    digest[4 * i + 1] = static_cast<uint8_t>(state_[i] >> 16);
    digest[4 * i + 2] = static_cast<uint8_t>(state_[i] >> 8);
    digest[4 * i + 3] = static_cast<uint8_t>(state_[i]);
  }
  return digest;
}

std::string ToHex(Sha256& hasher) {
  std::string text;
  text.reserve(64);
  for (const uint8_t byte : hasher.Finish()) {
    fmt::format_to(std::back_inserter(text), "{:02x}", byte);
  }
  return text;
}

std::expected<std::string, std::string> Sha256File(const std::filesystem::path& file,
                                                   const std::function<bool()>& cancelled) {
  // The stream shares the file with other readers and writers, as the C library opens it.
  std::ifstream stream(LongPath(file), std::ios::binary);
  if (!stream.is_open()) return std::unexpected(fmt::format("can't open {}", PathToUtf8(file)));

  Sha256 hasher;
  ReadAhead reader(stream, kReadBufferSize);
  for (;;) {
    if (cancelled && cancelled()) return std::unexpected(std::string("cancelled"));
    const ReadAhead::Chunk chunk = reader.Next();
    if (chunk.size > 0) hasher.Update(chunk.data, chunk.size);
    // A read that meets the end of the file leaves the stream failed, but not bad.
    if (chunk.bad) return std::unexpected(fmt::format("read error on {}", PathToUtf8(file)));
    if (chunk.failed) return ToHex(hasher);
  }
}

std::expected<void, std::string> HashFilePrefix(const std::filesystem::path& file, uint64_t length,
                                                Sha256& hasher,
                                                const std::function<bool()>& cancelled) {
  std::ifstream stream(LongPath(file), std::ios::binary);
  if (!stream.is_open()) return std::unexpected(fmt::format("can't open {}", PathToUtf8(file)));
  std::vector<char> buffer(kReadBufferSize);
  while (length > 0) {
    if (cancelled && cancelled()) return std::unexpected(std::string("cancelled"));
    const size_t want = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
    stream.read(buffer.data(), static_cast<std::streamsize>(want));
    if (static_cast<size_t>(stream.gcount()) != want) {
      return std::unexpected(fmt::format("read error on {}", PathToUtf8(file)));
    }
    hasher.Update(reinterpret_cast<const uint8_t*>(buffer.data()), want);
    length -= want;
  }
  return {};
}

}  // namespace kestrivon::core
