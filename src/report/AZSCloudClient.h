#pragma once

#include <memory>

#include "report/AZSAuthenticationHandler.h"
#include "report/AZSStorageCredentials.h"
#include "report/AZSStorageUri.h"

// What every service client of an account holds: its address, credentials and request signer.
class AZSCloudClient {
 public:
  virtual ~AZSCloudClient() = default;

  AZSStorageUri storageUri;
  std::shared_ptr<AZSStorageCredentials> credentials;
  std::shared_ptr<AZSAuthenticationHandler> authenticationHandler;
};
