#pragma once

#include <cstdint>
#include <memory>

class AZSOperationContext;
class AZSRequestResult;

struct AZSRetryContext {
  int64_t currentRetryCount = 0;
  std::shared_ptr<AZSRequestResult> lastRequestResult;
  int64_t nextLocation = 0;
  int64_t currentLocationMode = 1;
};

struct AZSRetryInfo {
  bool shouldRetry = false;
  int64_t targetLocation = 0;
  int64_t updatedLocationMode = 1;
  double retryInterval = 0.0;  // seconds
};

// Decides after a failed attempt whether, where and when to try again. A policy may keep state per
// operation, so each operation evaluates a clone.
class AZSRetryPolicy {
 public:
  virtual ~AZSRetryPolicy() = default;
  virtual AZSRetryInfo evaluateRetryContext(const AZSRetryContext& retryContext,
                                            AZSOperationContext& operationContext) = 0;
  virtual std::shared_ptr<AZSRetryPolicy> clone() const = 0;
};

class AZSRetryPolicyUtil {
 public:
  // Retries while fewer than `maxAttempts` retries were made and the last status is 408, below 300,
  // or 500 and above except 501 and 505. No answer at all counts as status 0.
  static AZSRetryInfo evaluateRetryContext(const AZSRetryContext& retryContext, int64_t maxAttempts);
};

class AZSRetryPolicyNoRetry : public AZSRetryPolicy {
 public:
  AZSRetryInfo evaluateRetryContext(const AZSRetryContext&, AZSOperationContext&) override { return {}; }
  std::shared_ptr<AZSRetryPolicy> clone() const override { return std::make_shared<AZSRetryPolicyNoRetry>(); }
};

class AZSRetryPolicyLinear : public AZSRetryPolicy {
 public:
  static std::shared_ptr<AZSRetryPolicyLinear> initWithMaximumAttempts(int64_t maxAttempts,
                                                                       double waitTimeBetweenRetries);
  AZSRetryInfo evaluateRetryContext(const AZSRetryContext& retryContext, AZSOperationContext&) override;
  std::shared_ptr<AZSRetryPolicy> clone() const override;

  const int64_t maxAttempts;
  const double waitTimeBetweenRetries;

 private:
  AZSRetryPolicyLinear(int64_t maxAttempts, double wait) : maxAttempts(maxAttempts), waitTimeBetweenRetries(wait) {}
};

class AZSRetryPolicyExponential : public AZSRetryPolicy {
 public:
  static std::shared_ptr<AZSRetryPolicyExponential> initWithMaximumAttempts(int64_t maxAttempts,
                                                                            double averageBackoffDelta);
  // (2^n - 1) times a factor drawn from [0.8 d, 1.2 d), n the retry count, kept within 0.5 to 120 s.
  AZSRetryInfo evaluateRetryContext(const AZSRetryContext& retryContext, AZSOperationContext&) override;
  std::shared_ptr<AZSRetryPolicy> clone() const override;

  const int64_t maxAttempts;
  const double averageBackoffDelta;

 private:
  AZSRetryPolicyExponential(int64_t maxAttempts, double delta) : maxAttempts(maxAttempts), averageBackoffDelta(delta) {}
};
