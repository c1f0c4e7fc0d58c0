#include "report/AZSCloudBlockBlob.h"

#include "report/AZSBlobRequestXML.h"
#include "report/AZSBlobUploadHelper.h"
#include "report/AZSCloudBlobClient.h"
#include "report/AZSCloudBlobContainer.h"
#include "report/AZSErrors.h"
#include "report/AZSExecutor.h"
#include "report/AZSOperationContext.h"
#include "report/AZSRequestFactory.h"
#include "report/AZSRequestResult.h"
#include "report/AZSResponseParser.h"
#include "report/AZSStorageCommand.h"
#include "report/azs/Crypto.h"

namespace {

std::shared_ptr<AZSStorageCommand> newCommand(const AZSCloudBlockBlob& blob) {
  auto command = std::make_shared<AZSStorageCommand>(blob.client->credentials, blob.storageUri);
  command->setAuthenticationHandler(blob.client->authenticationHandler);
  command->preProcessResponse = [](const qvr::azs::HttpResponse& response, AZSRequestResult& result,
                                   AZSOperationContext& context) {
    return AZSResponseParser::preprocessResponseWithResponse(response, result, context);
  };
  return command;
}

// Errors found before any request still reach the handler the way every answer does: later, on
// another thread.
void reportLater(AZSCloudBlockBlob::ErrorHandler handler, qvr::Error error) {
  qvr::azs::runInBackground([handler, error] {
    if (handler) handler(error);
  });
}

}  // namespace

std::shared_ptr<AZSCloudBlockBlob> AZSCloudBlockBlob::initWithContainer(
    std::shared_ptr<AZSCloudBlobContainer> container, const std::string& blobName) {
  if (!container) return nullptr;
  std::shared_ptr<AZSCloudBlockBlob> blob(new AZSCloudBlockBlob());
  blob->blobName = blobName;
  blob->storageUri = container->storageUri.appendingPathComponent(blobName);
  blob->client = container->client;
  blob->blobContainer = std::move(container);
  blob->properties.blobType = AZSBlobTypeBlockBlob;
  return blob;
}

void AZSCloudBlockBlob::uploadBlockFromData(std::vector<uint8_t> data, const std::string& blockID,
                                            ErrorHandler completionHandler) {
  uploadBlockFromData(std::move(data), blockID, std::nullopt, nullptr, nullptr, nullptr, std::move(completionHandler));
}

void AZSCloudBlockBlob::uploadBlockFromData(std::vector<uint8_t> data, const std::string& blockID,
                                            std::optional<std::string> contentMD5,
                                            std::shared_ptr<AZSAccessCondition> accessCondition,
                                            std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                            std::shared_ptr<AZSOperationContext> operationContext,
                                            ErrorHandler completionHandler) {
  auto options = AZSBlobRequestOptions::copyOptions(requestOptions, client->defaultRequestOptions);
  if (options->useTransactionalMD5 && !contentMD5) {
    contentMD5 = qvr::azs::base64Encode(qvr::azs::md5(data.data(), data.size()));
  }
  auto command = newCommand(*this);
  auto body = std::make_shared<const std::vector<uint8_t>>(std::move(data));
  command->source = body;
  uint64_t length = body->size();
  command->buildRequest = [length, blockID, contentMD5, accessCondition](const qvr::azs::UrlComponents& url,
                                                                         double timeout, AZSOperationContext& context) {
    return AZSBlobRequestFactory::putBlockWithLength(length, blockID, contentMD5, accessCondition.get(), url, timeout,
                                                     context);
  };
  AZSExecutor::ExecuteWithStorageCommand(command, options, operationContext,
                                         [completionHandler](std::optional<qvr::Error> error, std::any) {
                                           if (completionHandler) completionHandler(std::move(error));
                                         });
}

void AZSCloudBlockBlob::uploadBlockListFromArray(std::vector<AZSBlockListItem> blockList,
                                                 ErrorHandler completionHandler) {
  uploadBlockListFromArray(std::move(blockList), nullptr, nullptr, nullptr, std::move(completionHandler));
}

void AZSCloudBlockBlob::uploadBlockListFromArray(std::vector<AZSBlockListItem> blockList,
                                                 std::shared_ptr<AZSAccessCondition> accessCondition,
                                                 std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                                 std::shared_ptr<AZSOperationContext> operationContext,
                                                 ErrorHandler completionHandler) {
  auto options = AZSBlobRequestOptions::copyOptions(requestOptions, client->defaultRequestOptions);
  if (!operationContext) operationContext = std::make_shared<AZSOperationContext>();
  if (options->storeBlobContentMD5 && !properties.contentMD5) {
    reportLater(completionHandler,
                qvr::Error(AZSErrorDomain, AZSEContentMD5Missing,
                           {{AZSLocalizedDescriptionKey,
                             "Cannot store blob content MD5 without content MD5 set on the blob object when doing a "
                             "Put Block List."}}));
    return;
  }
  std::optional<qvr::Error> xmlError;
  std::optional<std::string> xml =
      AZSBlobRequestXML::createBlockListXMLFromArray(blockList, *operationContext, xmlError);
  if (!xml) {
    reportLater(completionHandler, xmlError.value_or(qvr::Error(AZSErrorDomain, AZSEXMLCreationError)));
    return;
  }
  auto body = std::make_shared<const std::vector<uint8_t>>(xml->begin(), xml->end());
  std::optional<std::string> contentMD5;
  if (options->useTransactionalMD5) contentMD5 = qvr::azs::base64Encode(qvr::azs::md5(body->data(), body->size()));

  auto self = std::static_pointer_cast<AZSCloudBlockBlob>(shared_from_this());
  auto command = newCommand(*this);
  command->source = body;
  uint64_t length = body->size();
  AZSBlobProperties blobProperties = properties;
  auto meta = metadata;
  command->buildRequest = [length, blobProperties, contentMD5, meta, accessCondition](
                              const qvr::azs::UrlComponents& url, double timeout, AZSOperationContext& context) {
    return AZSBlobRequestFactory::putBlockListWithLength(length, blobProperties, contentMD5, meta,
                                                         accessCondition.get(), url, timeout, context);
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

void AZSCloudBlockBlob::uploadFromText(const std::string& textToUpload, ErrorHandler completionHandler) {
  uploadFromText(textToUpload, nullptr, nullptr, nullptr, std::move(completionHandler));
}

void AZSCloudBlockBlob::uploadFromText(const std::string& textToUpload,
                                       std::shared_ptr<AZSAccessCondition> accessCondition,
                                       std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                       std::shared_ptr<AZSOperationContext> operationContext,
                                       ErrorHandler completionHandler) {
  uploadFromStream(std::make_shared<qvr::azs::MemoryInputStream>(textToUpload), std::move(accessCondition),
                   std::move(requestOptions), std::move(operationContext), std::move(completionHandler));
}

void AZSCloudBlockBlob::uploadFromStream(std::shared_ptr<qvr::azs::InputStream> sourceStream,
                                         std::shared_ptr<AZSAccessCondition> accessCondition,
                                         std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                         std::shared_ptr<AZSOperationContext> operationContext,
                                         ErrorHandler completionHandler) {
  auto options = AZSBlobRequestOptions::copyOptions(requestOptions, client->defaultRequestOptions);
  if (!operationContext) operationContext = std::make_shared<AZSOperationContext>();
  auto self = std::static_pointer_cast<AZSCloudBlockBlob>(shared_from_this());
  auto helper = std::make_shared<AZSBlobUploadHelper>(self, accessCondition, options, operationContext,
                                                      std::move(completionHandler));
  qvr::azs::runInBackground([helper, sourceStream] { helper->run(sourceStream.get()); });
}
