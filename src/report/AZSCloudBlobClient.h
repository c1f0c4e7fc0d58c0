#pragma once

#include <memory>
#include <string>

#include "report/AZSCloudClient.h"
#include "report/AZSRequestOptions.h"

class AZSCloudBlobContainer;

class AZSCloudBlobClient : public AZSCloudClient, public std::enable_shared_from_this<AZSCloudBlobClient> {
 public:
  // Installs the shared-key signer for shared-key credentials, otherwise one that signs nothing.
  static std::shared_ptr<AZSCloudBlobClient> initWithStorageUri(AZSStorageUri storageUri,
                                                                std::shared_ptr<AZSStorageCredentials> credentials);

  // No request is made.
  std::shared_ptr<AZSCloudBlobContainer> containerReferenceFromName(const std::string& containerName);

  // Options every operation of this client starts from; none by default.
  std::shared_ptr<AZSBlobRequestOptions> defaultRequestOptions;

 private:
  AZSCloudBlobClient() = default;
};
