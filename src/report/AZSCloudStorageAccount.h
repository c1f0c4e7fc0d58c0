#pragma once

#include <memory>
#include <string>

#include "report/AZSStorageCredentials.h"
#include "report/AZSStorageUri.h"

class AZSCloudBlobClient;

// A storage account as a connection string describes it.
class AZSCloudStorageAccount {
 public:
  // Pieces "Key=Value" separated by ";". None when no usable blob address can be formed from it.
  static std::shared_ptr<AZSCloudStorageAccount> accountFromConnectionString(const std::string& connectionString);

  std::shared_ptr<AZSCloudBlobClient> getBlobClient() const;

  bool explicitEndpoints = false;
  bool useHttps = true;
  std::string connectionString;
  std::shared_ptr<AZSStorageCredentials> storageCredentials;
  AZSStorageUri blob_endpoint;
  std::string endpointSuffix;
};

inline constexpr const char* AZSDefaultEndpointSuffix = "core.windows.net";
