#pragma once

// The updater's log file under the install directory and the bridge from the engine's log.

#include <cstdint>
#include <string>

namespace kestrivon::win {

// Appends one time-stamped record. The caller puts "[INFO] ", "[WARN] " or "[ERROR] " in
// front. Never throws; callable from any thread.
void WriteLogLine(const std::wstring& line);

// Hands the engine a sink that writes its lines through WriteLogLine.
void InstallCoreLogSink();

// The system's message text for a Win32 error code, without trailing line ends.
std::wstring FormatSystemError(uint32_t code);

}  // namespace kestrivon::win
