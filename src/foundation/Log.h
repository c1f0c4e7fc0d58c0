#pragma once

#include <functional>
#include <string>

namespace qvr {

// The system log of the engines and the shell: plain lines without levels.
// printf-style; the line goes to the installed sink (stderr by default).
void log(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces where log lines go (tests capture them; the command line may silence them).
// Passing an empty function restores stderr. Returns the previous sink.
using LogSink = std::function<void(const std::string& line)>;
LogSink setLogSink(LogSink sink);

}  // namespace qvr
