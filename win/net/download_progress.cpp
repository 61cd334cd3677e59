#include "win/net/download_progress.h"

#include <fmt/xchar.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace kestrivon::win {

namespace {

constexpr uint32_t kNothingShown = 0xFFFFFFFF;
constexpr std::chrono::nanoseconds kRepeatInterval = std::chrono::milliseconds(200);
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;
__extension__ typedef unsigned __int128 Wide;

struct Reporter {
  std::wstring label;
  int32_t base;
  int32_t span;
  std::wstring unit;
  StatusSink sink;
  uint32_t lastPercent = kNothingShown;
  std::chrono::steady_clock::time_point lastTime{};

  void operator()(uint64_t done, uint64_t total) {
    if (total == 0) return;
    // More than announced counts as all of it. The product takes 128 bits, since done * 100
    // wraps in 64 bits beyond 2^64 / 100 bytes.
    const Wide counted = std::min(done, total);
    const auto percent = static_cast<uint32_t>(counted * 100 / total);
    const auto now = std::chrono::steady_clock::now();
    if (percent == lastPercent && now - lastTime < kRepeatInterval) return;
    lastPercent = percent;
    lastTime = now;
    const int32_t overall = base + static_cast<int32_t>(percent) * span / 100;
    const std::wstring text = fmt::format(
        L"{}\n{:.1f} / {:.1f}{} ({}%)", label, static_cast<double>(done) / kBytesPerMegabyte,
        static_cast<double>(total) / kBytesPerMegabyte, unit, percent);
    if (sink) sink(text, overall);
  }
};

}  // namespace

core::ProgressCallback DownloadProgressReporter(std::wstring label, int base, int span,
                                                std::wstring unit, StatusSink sink) {
  return Reporter{std::move(label), base, span, std::move(unit), std::move(sink)};
}

}  // namespace kestrivon::win
