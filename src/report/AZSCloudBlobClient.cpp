#include "report/AZSCloudBlobClient.h"

#include "report/AZSCloudBlobContainer.h"
#include "report/AZSSharedKeyBlobAuthenticationHandler.h"

std::shared_ptr<AZSCloudBlobClient> AZSCloudBlobClient::initWithStorageUri(
    AZSStorageUri storageUri, std::shared_ptr<AZSStorageCredentials> credentials) {
  std::shared_ptr<AZSCloudBlobClient> client(new AZSCloudBlobClient());
  client->storageUri = std::move(storageUri);
  client->credentials = credentials ? std::move(credentials) : std::make_shared<AZSStorageCredentials>();
  if (client->credentials->isSharedKey()) {
    client->authenticationHandler = std::make_shared<AZSSharedKeyBlobAuthenticationHandler>(client->credentials);
  } else {
    client->authenticationHandler = std::make_shared<AZSNoOpAuthenticationHandler>();
  }
  return client;
}

std::shared_ptr<AZSCloudBlobContainer> AZSCloudBlobClient::containerReferenceFromName(
    const std::string& containerName) {
  return AZSCloudBlobContainer::initWithName(containerName, shared_from_this());
}
