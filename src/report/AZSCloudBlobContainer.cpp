#include "report/AZSCloudBlobContainer.h"

#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlockBlob.h"
#include "report/AZSErrors.h"
#include "report/AZSExecutor.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestFactory.h"
#include "report/AZSRequestResult.h"
#include "report/AZSResponseParser.h"
#include "report/AZSStorageCommand.h"

namespace {

std::shared_ptr<AZSStorageCommand> newCommand(const AZSCloudBlobContainer& container) {
  auto command = std::make_shared<AZSStorageCommand>(container.client->credentials, container.storageUri);
  command->setAuthenticationHandler(container.client->authenticationHandler);
  command->preProcessResponse = [](const qvr::azs::HttpResponse& response, AZSRequestResult& result,
                                   AZSOperationContext& context) {
    return AZSResponseParser::preprocessResponseWithResponse(response, result, context);
  };
  return command;
}

bool isNotFound(const qvr::Error& error) {
  if (error.domain != AZSErrorDomain || error.code != AZSEServerError) return false;
  auto it = error.userInfo.find(AZSHttpStatusCodeKey);
  return it != error.userInfo.end() && it->second.integer() == 404;
}

}  // namespace

std::shared_ptr<AZSCloudBlobContainer> AZSCloudBlobContainer::initWithName(const std::string& name,
                                                                           std::shared_ptr<AZSCloudBlobClient> client) {
  if (!client) return nullptr;
  std::shared_ptr<AZSCloudBlobContainer> container(new AZSCloudBlobContainer());
  container->name = name;
  container->storageUri = client->storageUri.appendingPathComponent(name);
  container->client = std::move(client);
  return container;
}

std::shared_ptr<AZSCloudBlockBlob> AZSCloudBlobContainer::blockBlobReferenceFromName(const std::string& blobName) {
  return AZSCloudBlockBlob::initWithContainer(shared_from_this(), blobName);
}

void AZSCloudBlobContainer::createContainerIfNotExistsWithCompletionHandler(ErrorBoolHandler completionHandler) {
  createContainerIfNotExistsWithAccessType(AZSContainerPublicAccessTypeOff, nullptr, nullptr,
                                           std::move(completionHandler));
}

void AZSCloudBlobContainer::createContainerIfNotExistsWithAccessType(
    int64_t accessType, std::shared_ptr<AZSBlobRequestOptions> requestOptions,
    std::shared_ptr<AZSOperationContext> operationContext, ErrorBoolHandler completionHandler) {
  if (!operationContext) operationContext = std::make_shared<AZSOperationContext>();
  auto self = shared_from_this();
  existsWithAccessCondition(nullptr, requestOptions, operationContext,
                            [self, accessType, requestOptions, operationContext, completionHandler](
                                std::optional<qvr::Error> error, bool exists) {
                              if (error || exists) {
                                if (completionHandler) completionHandler(std::move(error), false);
                                return;
                              }
                              self->createContainerWithAccessType(
                                  accessType, requestOptions, operationContext,
                                  [completionHandler](std::optional<qvr::Error> createError) {
                                    bool created = !createError;
                                    if (completionHandler) completionHandler(std::move(createError), created);
                                  });
                            });
}

void AZSCloudBlobContainer::createContainerWithAccessType(int64_t accessType,
                                                          std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                                          std::shared_ptr<AZSOperationContext> operationContext,
                                                          ErrorHandler completionHandler) {
  auto options = AZSBlobRequestOptions::copyOptions(requestOptions, client->defaultRequestOptions);
  auto self = shared_from_this();
  auto command = newCommand(*this);
  auto meta = metadata;
  command->buildRequest = [accessType, meta](const qvr::azs::UrlComponents& url, double timeout,
                                             AZSOperationContext& context) {
    return AZSBlobRequestFactory::createContainerWithAccessType(accessType, meta, url, timeout, context);
  };
  command->postProcessResponse = [self](const qvr::azs::HttpResponse& response, AZSRequestResult&, AZSOperationContext&,
                                        std::optional<qvr::Error>&) -> std::any {
    self->properties.eTag = response.valueForHeader("ETag").value_or("");
    self->properties.lastModified = response.valueForHeader("Last-Modified").value_or("");
    return {};
  };
  AZSExecutor::ExecuteWithStorageCommand(command, options, operationContext,
                                         [completionHandler](std::optional<qvr::Error> error, std::any) {
                                           if (completionHandler) completionHandler(std::move(error));
                                         });
}

void AZSCloudBlobContainer::existsWithAccessCondition(std::shared_ptr<AZSAccessCondition> accessCondition,
                                                      std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                                      std::shared_ptr<AZSOperationContext> operationContext,
                                                      ErrorBoolHandler completionHandler) {
  auto options = AZSBlobRequestOptions::copyOptions(requestOptions, client->defaultRequestOptions);
  auto command = newCommand(*this);
  command->buildRequest = [accessCondition](const qvr::azs::UrlComponents& url, double timeout,
                                            AZSOperationContext& context) {
    return AZSBlobRequestFactory::fetchContainerAttributesWithAccessCondition(accessCondition.get(), url, timeout,
                                                                              context);
  };
  AZSExecutor::ExecuteWithStorageCommand(command, options, operationContext,
                                         [completionHandler](std::optional<qvr::Error> error, std::any) {
                                           if (!completionHandler) return;
                                           if (!error) {
                                             completionHandler(std::nullopt, true);
                                           } else if (isNotFound(*error)) {
                                             completionHandler(std::nullopt, false);
                                           } else {
                                             completionHandler(std::move(error), false);
                                           }
                                         });
}

void AZSCloudBlobContainer::deleteContainerWithCompletionHandler(ErrorHandler completionHandler) {
  deleteContainerWithAccessCondition(nullptr, nullptr, nullptr, std::move(completionHandler));
}

void AZSCloudBlobContainer::deleteContainerWithAccessCondition(std::shared_ptr<AZSAccessCondition> accessCondition,
                                                               std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                                               std::shared_ptr<AZSOperationContext> operationContext,
                                                               ErrorHandler completionHandler) {
  auto options = AZSBlobRequestOptions::copyOptions(requestOptions, client->defaultRequestOptions);
  auto command = newCommand(*this);
  command->buildRequest = [accessCondition](const qvr::azs::UrlComponents& url, double timeout,
                                            AZSOperationContext& context) {
    return AZSBlobRequestFactory::deleteContainerWithAccessCondition(accessCondition.get(), url, timeout, context);
  };
  AZSExecutor::ExecuteWithStorageCommand(command, options, operationContext,
                                         [completionHandler](std::optional<qvr::Error> error, std::any) {
                                           if (completionHandler) completionHandler(std::move(error));
                                         });
}
