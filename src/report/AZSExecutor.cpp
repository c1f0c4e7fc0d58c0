#include "report/AZSExecutor.h"

#include <openssl/crypto.h>
#include <strings.h>
#include <sys/utsname.h>

#include <exception>
#include <thread>

#include "foundation/Log.h"
#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestResult.h"
#include "report/AZSResponseParser.h"
#include "report/AZSRetryPolicy.h"
#include "report/AZSStorageCommand.h"

namespace {

using Clock = std::chrono::system_clock;

struct AttemptOutcome {
  bool expired = false;
  std::optional<qvr::Error> error;
  std::any value;
  std::shared_ptr<AZSRequestResult> result;
};

qvr::Error sessionError(const std::string& domain, int64_t code, const std::string& description) {
  qvr::Error inner(domain, code, {{"description", description}});
  return qvr::Error(AZSErrorDomain, AZSEURLSessionError,
                    {{AZSInnerErrorKey, AZSResponseParser::userInfoForInnerError(inner)}});
}

// One attempt of an operation: build, sign, send, read, judge.
class Attempt {
 public:
  Attempt(AZSStorageCommand& command, const AZSRequestOptions& options, AZSOperationContext& context)
      : command_(command), options_(options), context_(context) {}

  AttemptOutcome execute() {
    AttemptOutcome out;
    if (!context_.startTime()) context_.setStartTime(Clock::now());
    startTime_ = Clock::now();
    AZSStorageUri uri =
        command_.credentials ? command_.credentials->transformWithStorageUri(command_.storageUri) : command_.storageUri;
    std::optional<qvr::azs::UrlComponents> url = uri.urlWithLocation(0);
    if (!url || !command_.buildRequest) {
      return finish(out, sessionError("qvr.azs", 0, "The request has no address."));
    }
    qvr::azs::HttpRequest request = command_.buildRequest(*url, options_.serverTimeout, context_);
    if (!context_.clientRequestId.empty()) request.setValue("x-ms-client-request-id", context_.clientRequestId);
    request.setValue("User-Agent", AZSExecutor::userAgent());
    for (const auto& [name, value] : context_.userHeaders) request.setValue(name, value);
    if (context_.sendingRequest) context_.sendingRequest(request, context_);
    if (command_.signRequest) {
      if (auto error = command_.signRequest(request, context_)) return finish(out, *error);
    }
    request.body = command_.source;

    double remaining = AZSExecutor::remainingTimeForOptions(options_, Clock::now());
    if (remaining <= 0) {
      out.expired = true;
      return out;
    }

    context_.logAtLevel(4, "Sending Request with URL:%s", request.url.string().c_str());
    for (const auto& [name, value] : request.headers) {
      // The signature is as good as the key for the moment it is valid: it never goes to a log.
      const char* shown = strcasecmp(name.c_str(), "Authorization") == 0 ? "(not logged)" : value.c_str();
      context_.logAtLevel(4, "Sending header name = %s; value = %s", name.c_str(), shown);
    }

    std::optional<qvr::Error> preProcessError;
    auto onResponse = [&](const qvr::azs::HttpResponse& response) {
      context_.logAtLevel(4, "Response HTTP status code = %ld", response.statusCode);
      for (const auto& [name, value] : response.headers) {
        context_.logAtLevel(4, "Response header name = %s; value = %s", name.c_str(), value.c_str());
      }
      if (context_.responseReceived) context_.responseReceived(response, context_);
      auto shared = std::make_shared<qvr::azs::HttpResponse>(response);
      shared->url = request.url.string();
      result_ = std::make_shared<AZSRequestResult>(startTime_, 0, shared, std::nullopt);
      if (command_.preProcessResponse) preProcessError = command_.preProcessResponse(*shared, *result_, context_);
    };
    uint64_t maxBody = options_.maximumDownloadBufferSize;
    qvr::azs::HttpOutcome http =
        qvr::azs::performHttpRequest(request, remaining, static_cast<size_t>(maxBody), onResponse);

    if (http.transportFailed) {
      return finish(out, sessionError("libcurl", http.transportCode, http.transportMessage));
    }
    if (preProcessError) {
      qvr::Error error = *preProcessError;
      if (command_.processError) error = command_.processError(http.body, std::move(error), context_);
      return finish(out, error);
    }
    if (result_) {
      std::optional<qvr::Error> error;
      if (command_.postProcessResponse) {
        out.value = command_.postProcessResponse(*result_->response, *result_, context_, error);
      }
      return finish(out, error);
    }
    return finish(out, qvr::Error(AZSErrorDomain, AZSEServerError));
  }

 private:
  AttemptOutcome& finish(AttemptOutcome& out, std::optional<qvr::Error> error) {
    out.error = std::move(error);
    if (result_) {
      result_->error = out.error;
      result_->endTime = Clock::now();
      out.result = result_;
    } else {
      out.result = std::make_shared<AZSRequestResult>(startTime_, 0, nullptr, out.error);
    }
    return out;
  }

  AZSStorageCommand& command_;
  const AZSRequestOptions& options_;
  AZSOperationContext& context_;
  Clock::time_point startTime_;
  std::shared_ptr<AZSRequestResult> result_;
};

void waitSeconds(double seconds) {
  auto until = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(seconds));
  while (std::chrono::steady_clock::now() < until) {
    auto left = until - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(100)));
  }
}

void runOperation(std::shared_ptr<AZSStorageCommand> command, std::shared_ptr<const AZSRequestOptions> options,
                  std::shared_ptr<AZSOperationContext> context, uint64_t retryCount, AZSExecutorCompletion handler) {
  std::optional<qvr::Error> error;
  std::any value;
  try {
    for (;;) {
      Attempt attempt(*command, *options, *context);
      AttemptOutcome out = attempt.execute();
      if (out.expired) {
        error = qvr::Error(AZSErrorDomain, AZSEOperationExpired);
        value.reset();
        break;
      }
      context->logAtLevel(5, "Finishing session.");
      context->addRequestResult(out.result);
      ++retryCount;
      error = std::move(out.error);
      value = std::move(out.value);
      if (error && context->retryPolicy) {
        std::shared_ptr<AZSRetryPolicy> policy = context->retryPolicy->clone();
        AZSRetryContext retryContext;
        retryContext.currentRetryCount = static_cast<int64_t>(retryCount);
        retryContext.lastRequestResult = out.result;
        retryContext.nextLocation = 0;
        retryContext.currentLocationMode = 1;
        AZSRetryInfo info = policy ? policy->evaluateRetryContext(retryContext, *context) : AZSRetryInfo();
        if (info.shouldRetry) {
          waitSeconds(info.retryInterval);
          continue;
        }
      }
      break;
    }
  } catch (const std::exception& e) {
    // A caller's callback threw; the operation ends with that as a failed exchange.
    error = sessionError("qvr.azs", 0, e.what());
    value.reset();
  } catch (...) {
    error = sessionError("qvr.azs", 0, "Unknown exception");
    value.reset();
  }
  context->setEndTime(Clock::now());
  // This thread's crypto state goes now rather than at thread exit: once the handler has run, the
  // process may end, and memory still held by a finishing thread would be reported as leaked.
  OPENSSL_thread_stop();
  try {
    if (handler) handler(std::move(error), std::move(value));
  } catch (...) {
    qvr::log("A blob storage completion handler threw an exception");
  }
}

}  // namespace

void AZSExecutor::ExecuteWithStorageCommand(std::shared_ptr<AZSStorageCommand> command,
                                            std::shared_ptr<const AZSRequestOptions> requestOptions,
                                            std::shared_ptr<AZSOperationContext> operationContext,
                                            AZSExecutorCompletion completionHandler) {
  ExecuteWithStorageCommand(std::move(command), std::move(requestOptions), std::move(operationContext), 0,
                            std::move(completionHandler));
}

void AZSExecutor::ExecuteWithStorageCommand(std::shared_ptr<AZSStorageCommand> command,
                                            std::shared_ptr<const AZSRequestOptions> requestOptions,
                                            std::shared_ptr<AZSOperationContext> operationContext, uint64_t retryCount,
                                            AZSExecutorCompletion completionHandler) {
  if (!requestOptions) requestOptions = std::make_shared<AZSRequestOptions>();
  if (!operationContext) operationContext = std::make_shared<AZSOperationContext>();
  // Without a command there is nothing to address; the attempt then fails as a session error.
  if (!command) command = std::make_shared<AZSStorageCommand>(nullptr, AZSStorageUri());
  try {
    std::thread(runOperation, command, requestOptions, operationContext, retryCount, completionHandler).detach();
  } catch (const std::exception& e) {
    // No thread to be had: the caller still hears back, once.
    operationContext->setEndTime(Clock::now());
    if (completionHandler) completionHandler(sessionError("qvr.azs", 0, e.what()), {});
  }
}

double AZSExecutor::remainingTimeForOptions(const AZSRequestOptions& options, Clock::time_point now) {
  if (!options.operationExpiryTime) return 604800.0;
  return std::chrono::duration<double>(*options.operationExpiryTime - now).count();
}

std::string AZSExecutor::userAgent() {
  static const std::string agent = [] {
    utsname u{};
    std::string version = uname(&u) == 0 ? std::string(u.sysname) + " " + u.release : std::string("unknown");
    return "Azure-Storage/0.1.2-preview (iOS " + version + ")";
  }();
  return agent;
}
