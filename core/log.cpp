#include "core/log.h"

namespace kestrivon::core {
namespace {

LogSink& Sink() {
  static LogSink sink;
  return sink;
}

}  // namespace

void SetLogSink(LogSink sink) { Sink() = std::move(sink); }

void Log(LogLevel level, std::string_view message) {
  const LogSink& sink = Sink();
  if (!sink) return;
  try {
    sink(level, message);
  } catch (...) {
    // A failing sink must never take the run down with it.
  }
}

std::string ShortDigest(const std::string& sha256) {
  if (sha256.empty()) return "none";
  return sha256.substr(0, 8) + "...";
}

}  // namespace kestrivon::core
