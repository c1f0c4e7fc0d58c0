#include "report/AZSStorageCommand.h"

#include "report/AZSResponseParser.h"

AZSStorageCommand::AZSStorageCommand(std::shared_ptr<AZSStorageCredentials> credentials, AZSStorageUri storageUri)
    : storageUri(std::move(storageUri)), credentials(std::move(credentials)) {
  processError = [](const std::vector<uint8_t>& body, qvr::Error error, AZSOperationContext& operationContext) {
    return AZSResponseParser::processErrorResponseWithData(body, std::move(error), operationContext);
  };
}

void AZSStorageCommand::setAuthenticationHandler(std::shared_ptr<AZSAuthenticationHandler> handler) {
  if (!handler) {
    signRequest = nullptr;
    return;
  }
  signRequest = [handler](qvr::azs::HttpRequest& request, AZSOperationContext& operationContext) {
    return handler->signRequest(request, operationContext);
  };
}
