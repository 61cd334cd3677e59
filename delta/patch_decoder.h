#pragma once

// Decodes one zstd patch: a single frame made against the installed file's bytes as its
// prefix, fed in blocks as the ZIP reader streams them, its output handed on in blocks of at
// most 128 KiB. Never more than the expected size comes out, and the frame must end exactly
// with the input.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string>
#include <vector>

struct ZSTD_DCtx_s;
struct ZSTD_inBuffer_s;

namespace kestrivon::delta {

// Takes one block of output; false stops the decoding.
using PatchSink = std::function<bool(const uint8_t* data, size_t size)>;

class PatchDecoder {
 public:
  PatchDecoder();
  ~PatchDecoder();
  PatchDecoder(const PatchDecoder&) = delete;
  PatchDecoder& operator=(const PatchDecoder&) = delete;

  // Starts a frame that is to yield `expectedSize` bytes. `prefix` must outlive the frame.
  // The window is allowed to grow only as far as the two sizes need (PatchWindowLog), and no
  // less than zstd's default limit.
  std::expected<void, std::string> Begin(std::span<const uint8_t> prefix, uint64_t expectedSize,
                                         PatchSink sink);
  // The error texts name no file: "corrupt patch: {zstd's text}", "patch yields more than {}
  // bytes", "data after the patch's end", "output not written".
  std::expected<void, std::string> Feed(const void* data, size_t size);
  // "patch ends early ({} of {} bytes)" unless the frame ended with the expected size.
  std::expected<void, std::string> Finish();

 private:
  // One call of the decoder: whether it gave output.
  std::expected<bool, std::string> Step(ZSTD_inBuffer_s& in);

  ZSTD_DCtx_s* context_ = nullptr;
  std::vector<uint8_t> output_;
  PatchSink sink_;
  uint64_t expected_ = 0;
  uint64_t produced_ = 0;
  bool ended_ = false;
};

}  // namespace kestrivon::delta
