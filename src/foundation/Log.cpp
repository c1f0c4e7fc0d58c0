#include "foundation/Log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace qvr {

namespace {
std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
LogSink& currentSink() {
  static LogSink sink;
  return sink;
}
}  // namespace

void log(const char* format, ...) {
  char buffer[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(sinkMutex());
  if (currentSink()) {
    currentSink()(buffer);
  } else {
    std::fprintf(stderr, "%s\n", buffer);
  }
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(sinkMutex());
  LogSink previous = std::move(currentSink());
  currentSink() = std::move(sink);
  return previous;
}

}  // namespace qvr
