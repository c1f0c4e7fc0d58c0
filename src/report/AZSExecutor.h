#pragma once

#include <any>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "foundation/Error.h"
#include "report/AZSRequestOptions.h"

class AZSOperationContext;
class AZSStorageCommand;

using AZSExecutorCompletion = std::function<void(std::optional<qvr::Error> error, std::any value)>;

// Carries out a storage command: sends it, checks and reads the answer, retries as the context's
// policy says, and hands the outcome to the completion handler.
class AZSExecutor {
 public:
  // Returns at once. The attempts and then the handler run on a thread of their own; the handler is
  // called exactly once.
  static void ExecuteWithStorageCommand(std::shared_ptr<AZSStorageCommand> command,
                                        std::shared_ptr<const AZSRequestOptions> requestOptions,
                                        std::shared_ptr<AZSOperationContext> operationContext,
                                        AZSExecutorCompletion completionHandler);
  static void ExecuteWithStorageCommand(std::shared_ptr<AZSStorageCommand> command,
                                        std::shared_ptr<const AZSRequestOptions> requestOptions,
                                        std::shared_ptr<AZSOperationContext> operationContext, uint64_t retryCount,
                                        AZSExecutorCompletion completionHandler);

  // Seconds an attempt may still take: until the operation's expiry time, or a week when it has none.
  static double remainingTimeForOptions(const AZSRequestOptions& options, std::chrono::system_clock::time_point now);

  // "Azure-Storage/0.1.2-preview (iOS <operating system version>)".
  static std::string userAgent();
};
