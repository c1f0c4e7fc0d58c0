#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "foundation/Error.h"
#include "report/AZSAuthenticationHandler.h"
#include "report/AZSStorageCredentials.h"
#include "report/AZSStorageUri.h"
#include "report/azs/Http.h"

class AZSOperationContext;
class AZSRequestResult;

// Everything the executor needs to carry out one operation, however many attempts it takes.
class AZSStorageCommand {
 public:
  using BuildRequest = std::function<qvr::azs::HttpRequest(const qvr::azs::UrlComponents& urlComponents, double timeout,
                                                           AZSOperationContext& operationContext)>;
  using SignRequest =
      std::function<std::optional<qvr::Error>(qvr::azs::HttpRequest& request, AZSOperationContext& operationContext)>;
  using PreProcessResponse = std::function<std::optional<qvr::Error>(
      const qvr::azs::HttpResponse& response, AZSRequestResult& requestResult, AZSOperationContext& operationContext)>;
  // Gives the operation's value; may set `error`.
  using PostProcessResponse =
      std::function<std::any(const qvr::azs::HttpResponse& response, AZSRequestResult& requestResult,
                             AZSOperationContext& operationContext, std::optional<qvr::Error>& error)>;
  // Refines the error of a refused request with the answer's body.
  using ProcessError = std::function<qvr::Error(const std::vector<uint8_t>& body, qvr::Error error,
                                                AZSOperationContext& operationContext)>;

  // The default error processing reads the service's XML error body.
  AZSStorageCommand(std::shared_ptr<AZSStorageCredentials> credentials, AZSStorageUri storageUri);

  // Requests are then signed by `handler` just before they are sent.
  void setAuthenticationHandler(std::shared_ptr<AZSAuthenticationHandler> handler);

  bool calculateResponseMD5 = false;
  AZSStorageUri storageUri;
  std::shared_ptr<AZSStorageCredentials> credentials;
  BuildRequest buildRequest;
  SignRequest signRequest;
  PreProcessResponse preProcessResponse;
  PostProcessResponse postProcessResponse;
  ProcessError processError;
  std::shared_ptr<const std::vector<uint8_t>> source;  // the request body, when there is one
};
