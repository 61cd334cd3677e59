#include "tools/publish/progress.h"

#include <algorithm>

#include <fmt/format.h>

namespace kestrivon::publish {
namespace {

constexpr uint64_t kShowProgressFrom = 32'000'000;

}  // namespace

std::string Megabytes(uint64_t bytes) {
  return fmt::format("{:.1f} MB", static_cast<double>(bytes) / 1e6);
}

ProgressLine::ProgressLine(std::ostream* out, bool terminal, std::string label, uint64_t total,
                           ProgressUnit unit, bool longWork)
    : out_(out),
      terminal_(terminal),
      label_(std::move(label)),
      total_(total),
      unit_(unit),
      steps_(longWork && (unit != ProgressUnit::Bytes || total >= kShowProgressFrom)) {}

std::string ProgressLine::Amount(uint64_t count) const {
  return unit_ == ProgressUnit::Bytes ? Megabytes(count) : fmt::format("{} files", count);
}

void ProgressLine::Update(uint64_t done) {
  done_ = done;
  if (out_ == nullptr || !steps_ || total_ == 0) return;
  const uint64_t percent = std::min<uint64_t>(100, done_ * 100 / total_);
  if (terminal_) {
    const Clock::time_point now = Clock::now();
    if (now - shown_ < std::chrono::milliseconds(200)) return;
    shown_ = now;
    *out_ << fmt::format("\r{}: {:3}% of {}", label_, percent, Amount(total_)) << std::flush;
    return;
  }
  const int tenth = static_cast<int>(percent / 10);
  if (tenth <= shownTenth_ || tenth >= 10) return;
  shownTenth_ = tenth;
  *out_ << fmt::format("{}: {}% of {}\n", label_, tenth * 10, Amount(total_)) << std::flush;
}

double ProgressLine::Finish() {
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  if (out_ != nullptr) {
    std::string rate;
    if (unit_ == ProgressUnit::Bytes) {
      rate = fmt::format(" ({:.0f} MB/s)",
                         seconds > 0 ? static_cast<double>(done_) / seconds / 1e6 : 0);
    }
    *out_ << fmt::format("{}{}: {} in {:.2f} s{}\n", terminal_ ? "\r\x1b[K" : "", label_,
                         Amount(done_), seconds, rate)
          << std::flush;
  }
  return seconds;
}

std::string FormatTable(const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t column = 0; column < row.size(); ++column) {
      widths[column] = std::max(widths[column], row[column].size());
    }
  }
  std::string table;
  for (const auto& row : rows) {
    std::string line;
    for (size_t column = 0; column < row.size(); ++column) {
      line += column + 1 < row.size() ? fmt::format("{:<{}}  ", row[column], widths[column])
                                      : row[column];
    }
    table += line + "\n";
  }
  return table;
}

}  // namespace kestrivon::publish
