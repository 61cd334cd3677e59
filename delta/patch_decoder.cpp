#include "delta/patch_decoder.h"

#include <algorithm>
#include <new>

#include <fmt/format.h>
#include <zstd.h>

#include "delta/delta_list.h"

namespace kestrivon::delta {
namespace {

// zstd's own limit for frames decoded without being told more (128 MiB).
constexpr int kDefaultWindowLog = 27;

}  // namespace

PatchDecoder::PatchDecoder() : context_(ZSTD_createDCtx()), output_(ZSTD_DStreamOutSize()) {
  if (context_ == nullptr) throw std::bad_alloc();
}

PatchDecoder::~PatchDecoder() { ZSTD_freeDCtx(context_); }

std::expected<void, std::string> PatchDecoder::Begin(std::span<const uint8_t> prefix,
                                                     uint64_t expectedSize, PatchSink sink) {
  sink_ = std::move(sink);
  expected_ = expectedSize;
  produced_ = 0;
  ended_ = false;
  const int windowLog = std::max(kDefaultWindowLog, PatchWindowLog(prefix.size(), expectedSize));
  const auto failed = [](size_t code) {
    return std::unexpected(fmt::format("corrupt patch: {}", ZSTD_getErrorName(code)));
  };
  if (size_t code = ZSTD_DCtx_reset(context_, ZSTD_reset_session_and_parameters);
      ZSTD_isError(code)) {
    return failed(code);
  }
  if (size_t code = ZSTD_DCtx_setParameter(context_, ZSTD_d_windowLogMax, windowLog);
      ZSTD_isError(code)) {
    return failed(code);
  }
  if (!prefix.empty()) {
    if (size_t code = ZSTD_DCtx_refPrefix(context_, prefix.data(), prefix.size());
        ZSTD_isError(code)) {
      return failed(code);
    }
  }
  return {};
}

std::expected<bool, std::string> PatchDecoder::Step(ZSTD_inBuffer_s& in) {
  ZSTD_outBuffer out{output_.data(), output_.size(), 0};
  const size_t code = ZSTD_decompressStream(context_, &out, &in);
  if (ZSTD_isError(code)) {
    return std::unexpected(fmt::format("corrupt patch: {}", ZSTD_getErrorName(code)));
  }
  if (out.pos > expected_ - produced_) {
    return std::unexpected(fmt::format("patch yields more than {} bytes", expected_));
  }
  produced_ += out.pos;
  if (out.pos > 0 && !sink_(output_.data(), out.pos)) {
    return std::unexpected("output not written");
  }
  ended_ = code == 0;
  return out.pos > 0;
}

std::expected<void, std::string> PatchDecoder::Feed(const void* data, size_t size) {
  ZSTD_inBuffer in{data, size, 0};
  while (in.pos < in.size) {
    // One frame only: the prefix applies to the first, and a second would decode without it.
    if (ended_) return std::unexpected("data after the patch's end");
    if (auto stepped = Step(in); !stepped) return std::unexpected(std::move(stepped.error()));
  }
  return {};
}

std::expected<void, std::string> PatchDecoder::Finish() {
  // The decoder may still hold output once the input is used up.
  ZSTD_inBuffer in{nullptr, 0, 0};
  while (!ended_) {
    auto stepped = Step(in);
    if (!stepped) return std::unexpected(std::move(stepped.error()));
    if (!*stepped) break;  // nothing more comes without input
  }
  if (!ended_ || produced_ != expected_) {
    return std::unexpected(fmt::format("patch ends early ({} of {} bytes)", produced_, expected_));
  }
  return {};
}

}  // namespace kestrivon::delta
