#pragma once

// Progress of long work on the error stream, and the summary table on standard output.

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace kestrivon::publish {

// "12.3 MB" (10^6 bytes, one decimal).
std::string Megabytes(uint64_t bytes);

enum class ProgressUnit { Bytes, Files };

// One task's progress: on a terminal one line rewritten in place at most five times a
// second; otherwise a line at every tenth of the work, so that logs stay short. Short work
// (below 32 MB, or `longWork` false) shows only its closing line.
class ProgressLine {
 public:
  // `out` may be null: then nothing is printed.
  ProgressLine(std::ostream* out, bool terminal, std::string label, uint64_t total,
               ProgressUnit unit = ProgressUnit::Bytes, bool longWork = true);
  void Update(uint64_t done);
  // The closing line with the time taken and the throughput; returns the seconds.
  double Finish();

 private:
  using Clock = std::chrono::steady_clock;

  std::string Amount(uint64_t count) const;

  std::ostream* out_;
  bool terminal_;
  std::string label_;
  uint64_t total_;
  ProgressUnit unit_;
  bool steps_;
  uint64_t done_ = 0;
  int shownTenth_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point shown_ = start_;
};

// Left-aligned columns two spaces apart; the first row is the heading.
std::string FormatTable(const std::vector<std::vector<std::string>>& rows);

}  // namespace kestrivon::publish
