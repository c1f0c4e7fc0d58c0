#include "report/AZSRetryPolicy.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "report/AZSRequestResult.h"

AZSRetryInfo AZSRetryPolicyUtil::evaluateRetryContext(const AZSRetryContext& retryContext, int64_t maxAttempts) {
  AZSRetryInfo info;
  info.targetLocation = retryContext.nextLocation;
  info.updatedLocationMode = retryContext.currentLocationMode;
  if (retryContext.currentRetryCount >= maxAttempts) return info;
  long status = retryContext.lastRequestResult ? retryContext.lastRequestResult->statusCode() : 0;
  info.shouldRetry = status == 408 || status < 300 || (status >= 500 && status != 501 && status != 505);
  return info;
}

std::shared_ptr<AZSRetryPolicyLinear> AZSRetryPolicyLinear::initWithMaximumAttempts(int64_t maxAttempts,
                                                                                    double waitTimeBetweenRetries) {
  return std::shared_ptr<AZSRetryPolicyLinear>(new AZSRetryPolicyLinear(maxAttempts, waitTimeBetweenRetries));
}

AZSRetryInfo AZSRetryPolicyLinear::evaluateRetryContext(const AZSRetryContext& retryContext, AZSOperationContext&) {
  AZSRetryInfo info = AZSRetryPolicyUtil::evaluateRetryContext(retryContext, maxAttempts);
  if (info.shouldRetry) info.retryInterval = waitTimeBetweenRetries;
  return info;
}

std::shared_ptr<AZSRetryPolicy> AZSRetryPolicyLinear::clone() const {
  return initWithMaximumAttempts(maxAttempts, waitTimeBetweenRetries);
}

std::shared_ptr<AZSRetryPolicyExponential> AZSRetryPolicyExponential::initWithMaximumAttempts(
    int64_t maxAttempts, double averageBackoffDelta) {
  return std::shared_ptr<AZSRetryPolicyExponential>(new AZSRetryPolicyExponential(maxAttempts, averageBackoffDelta));
}

AZSRetryInfo AZSRetryPolicyExponential::evaluateRetryContext(const AZSRetryContext& retryContext,
                                                             AZSOperationContext&) {
  AZSRetryInfo info = AZSRetryPolicyUtil::evaluateRetryContext(retryContext, maxAttempts);
  if (!info.shouldRetry) return info;
  thread_local std::mt19937_64 engine{std::random_device{}()};
  double low = 0.8 * averageBackoffDelta;
  double high = 1.2 * averageBackoffDelta;
  double factor = high > low ? std::uniform_real_distribution<double>(low, high)(engine) : low;
  double interval = (std::pow(2.0, static_cast<double>(retryContext.currentRetryCount)) - 1.0) * factor;
  if (!std::isfinite(interval)) interval = 120.0;
  info.retryInterval = std::clamp(interval, 0.5, 120.0);
  return info;
}

std::shared_ptr<AZSRetryPolicy> AZSRetryPolicyExponential::clone() const {
  return initWithMaximumAttempts(maxAttempts, averageBackoffDelta);
}
