#include "report/AZSOperationContext.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/Log.h"
#include "report/azs/Crypto.h"

namespace {
std::mutex& globalMutex() {
  static std::mutex m;
  return m;
}
int64_t gGlobalLogLevel = 0;
AZSOperationContext::LogFunction& globalLogFunction() {
  static AZSOperationContext::LogFunction f;
  return f;
}
}  // namespace

AZSOperationContext::AZSOperationContext() : clientRequestId(qvr::azs::uuidString()) {}

std::vector<std::shared_ptr<AZSRequestResult>> AZSOperationContext::requestResults() const {
  std::lock_guard lock(mutex_);
  return requestResults_;
}

void AZSOperationContext::addRequestResult(std::shared_ptr<AZSRequestResult> result) {
  std::lock_guard lock(mutex_);
  requestResults_.push_back(std::move(result));
}

std::optional<AZSOperationContext::Clock::time_point> AZSOperationContext::startTime() const {
  std::lock_guard lock(mutex_);
  return startTime_;
}

void AZSOperationContext::setStartTime(Clock::time_point t) {
  std::lock_guard lock(mutex_);
  startTime_ = t;
}

std::optional<AZSOperationContext::Clock::time_point> AZSOperationContext::endTime() const {
  std::lock_guard lock(mutex_);
  return endTime_;
}

void AZSOperationContext::setEndTime(Clock::time_point t) {
  std::lock_guard lock(mutex_);
  endTime_ = t;
}

void AZSOperationContext::setGlobalLogLevel(int64_t level) {
  std::lock_guard lock(globalMutex());
  gGlobalLogLevel = level;
}

void AZSOperationContext::setGlobalLogFunction(LogFunction function) {
  std::lock_guard lock(globalMutex());
  globalLogFunction() = std::move(function);
}

void AZSOperationContext::logAtLevel(int64_t level, const char* format, ...) {
  int64_t globalLevel;
  LogFunction globalFunction;
  {
    std::lock_guard lock(globalMutex());
    globalLevel = gGlobalLogLevel;
    globalFunction = globalLogFunction();
  }
  bool toGlobal = level <= globalLevel;
  bool toContext = level <= logLevel && logFunction;
  if (!toGlobal && !toContext) return;

  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string message(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) std::vsnprintf(message.data(), message.size() + 1, format, args);
  va_end(args);

  if (toGlobal) {
    if (globalFunction) {
      globalFunction(level, message);
    } else {
      qvr::log("%s", message.c_str());
    }
  }
  if (toContext) logFunction(level, message);
}
