#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "report/AZSAccessCondition.h"
#include "report/AZSBlobProperties.h"
#include "report/AZSRequestOptions.h"
#include "report/AZSStorageUri.h"

class AZSCloudBlobClient;
class AZSCloudBlockBlob;
class AZSOperationContext;

enum AZSContainerPublicAccessType : int64_t {
  AZSContainerPublicAccessTypeOff = 0,
  AZSContainerPublicAccessTypeContainer = 1,
  AZSContainerPublicAccessTypeBlob = 2,
};

// A container of the blob service. Operations return at once; their handler runs once, on a background thread.
class AZSCloudBlobContainer : public std::enable_shared_from_this<AZSCloudBlobContainer> {
 public:
  using ErrorHandler = std::function<void(std::optional<qvr::Error> error)>;
  using ErrorBoolHandler = std::function<void(std::optional<qvr::Error> error, bool result)>;

  // No request is made.
  static std::shared_ptr<AZSCloudBlobContainer> initWithName(const std::string& name,
                                                             std::shared_ptr<AZSCloudBlobClient> client);
  std::shared_ptr<AZSCloudBlockBlob> blockBlobReferenceFromName(const std::string& blobName);

  // (error, created): an existing container gives (none, false) without a create request.
  void createContainerIfNotExistsWithCompletionHandler(ErrorBoolHandler completionHandler);
  void createContainerIfNotExistsWithAccessType(int64_t accessType,
                                                std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                                std::shared_ptr<AZSOperationContext> operationContext,
                                                ErrorBoolHandler completionHandler);
  void createContainerWithAccessType(int64_t accessType, std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                     std::shared_ptr<AZSOperationContext> operationContext,
                                     ErrorHandler completionHandler);
  // (error, exists): a 404 answer means the container does not exist, which is no error.
  void existsWithAccessCondition(std::shared_ptr<AZSAccessCondition> accessCondition,
                                 std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                 std::shared_ptr<AZSOperationContext> operationContext,
                                 ErrorBoolHandler completionHandler);
  void deleteContainerWithCompletionHandler(ErrorHandler completionHandler);
  void deleteContainerWithAccessCondition(std::shared_ptr<AZSAccessCondition> accessCondition,
                                          std::shared_ptr<AZSBlobRequestOptions> requestOptions,
                                          std::shared_ptr<AZSOperationContext> operationContext,
                                          ErrorHandler completionHandler);

  std::string name;
  std::shared_ptr<AZSCloudBlobClient> client;
  AZSStorageUri storageUri;
  std::map<std::string, std::string> metadata;
  AZSBlobContainerProperties properties;  // updated by a successful create

 private:
  AZSCloudBlobContainer() = default;
};
