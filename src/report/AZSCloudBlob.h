#pragma once

#include <map>
#include <memory>
#include <string>

#include "report/AZSBlobProperties.h"
#include "report/AZSStorageUri.h"

class AZSCloudBlobClient;
class AZSCloudBlobContainer;

// A blob inside a container. It keeps its container and client alive.
class AZSCloudBlob : public std::enable_shared_from_this<AZSCloudBlob> {
 public:
  virtual ~AZSCloudBlob() = default;

  std::string blobName;
  std::shared_ptr<AZSCloudBlobContainer> blobContainer;
  AZSStorageUri storageUri;  // the container's address with "/" and the blob name appended
  std::shared_ptr<AZSCloudBlobClient> client;
  std::string snapshotTime;
  std::map<std::string, std::string> metadata;
  AZSBlobProperties properties;

 protected:
  AZSCloudBlob() = default;
};
