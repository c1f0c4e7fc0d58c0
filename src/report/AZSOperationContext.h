#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "report/azs/Http.h"

class AZSRequestResult;
class AZSRetryPolicy;

// What the caller of one operation can watch and steer: the attempts' results, callbacks around
// sending and receiving, extra headers, the retry policy and the log.
class AZSOperationContext {
 public:
  using Clock = std::chrono::system_clock;
  using LogFunction = std::function<void(int64_t level, const std::string& message)>;

  AZSOperationContext();

  std::string clientRequestId;  // a new UUID string per context
  std::function<void(qvr::azs::HttpRequest&, AZSOperationContext&)> sendingRequest;
  std::function<void(const qvr::azs::HttpResponse&, AZSOperationContext&)> responseReceived;
  std::map<std::string, std::string> userHeaders;
  std::shared_ptr<AZSRetryPolicy> retryPolicy;
  int64_t logLevel = 0;
  LogFunction logFunction;

  // Attempts of several operations sharing a context may finish at once; these are safe across threads.
  std::vector<std::shared_ptr<AZSRequestResult>> requestResults() const;
  void addRequestResult(std::shared_ptr<AZSRequestResult> result);
  std::optional<Clock::time_point> startTime() const;
  void setStartTime(Clock::time_point t);
  std::optional<Clock::time_point> endTime() const;
  void setEndTime(Clock::time_point t);

  // Levels 1 (most severe) to 5. A message goes to the global log function (or the system log) when
  // its level is within the global level, and to this context's function when within `logLevel`.
  void logAtLevel(int64_t level, const char* format, ...) __attribute__((format(printf, 3, 4)));

  static void setGlobalLogLevel(int64_t level);
  static void setGlobalLogFunction(LogFunction function);

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<AZSRequestResult>> requestResults_;
  std::optional<Clock::time_point> startTime_;
  std::optional<Clock::time_point> endTime_;
};
