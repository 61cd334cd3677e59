#pragma once

// What the process-wide log (WriteLogLine) receives from the moment a tail is made.

#include <atomic>
#include <string>

#include "tests/support/wine_test_support.h"
#include "win/base/process_state.h"
#include "win/log/log_file.h"

namespace kestrivon::testing {

class ProcessLogTail {
 public:
  // Starts with a unique marker line, so that rotation or other writers cannot shift it.
  ProcessLogTail() {
    static std::atomic<int> counter{0};
    const std::string line = "[INFO] -- log tail " + std::to_string(counter++) + " --";
    win::WriteLogLine(std::wstring(line.begin(), line.end()));
    marker_ = line + "\n";
  }

  // Everything logged after the marker.
  std::string Text() const {
    const std::string all = ReadFileBytes(win::LogFolder() + L"\\Kestrivon_Updater.log");
    const size_t at = all.rfind(marker_);
    return at == std::string::npos ? std::string() : all.substr(at + marker_.size());
  }

 private:
  std::string marker_;
};

}  // namespace kestrivon::testing
