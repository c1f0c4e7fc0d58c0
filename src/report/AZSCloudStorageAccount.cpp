#include "report/AZSCloudStorageAccount.h"

#include <map>

#include "report/AZSCloudBlobClient.h"
#include "report/azs/Crypto.h"

std::shared_ptr<AZSCloudStorageAccount> AZSCloudStorageAccount::accountFromConnectionString(
    const std::string& connectionString) {
  std::map<std::string, std::string> settings;
  size_t start = 0;
  while (start <= connectionString.size()) {
    size_t end = connectionString.find(';', start);
    if (end == std::string::npos) end = connectionString.size();
    std::string piece = connectionString.substr(start, end - start);
    size_t eq = piece.find('=');
    // A piece without "=" (an empty one after a trailing ";", say) carries nothing and is passed over.
    if (eq != std::string::npos) settings[piece.substr(0, eq)] = piece.substr(eq + 1);
    start = end + 1;
  }
  auto get = [&](const char* key) -> const std::string* {
    auto it = settings.find(key);
    return it == settings.end() ? nullptr : &it->second;
  };

  auto account = std::make_shared<AZSCloudStorageAccount>();
  account->connectionString = connectionString;
  if (const std::string* suffix = get("EndpointSuffix")) account->endpointSuffix = *suffix;
  const std::string* protocol = get("DefaultEndpointsProtocol");
  account->useHttps = !(protocol && *protocol == "http");

  const std::string* name = get("AccountName");
  const std::string* key = get("AccountKey");
  const std::string* sas = get("SharedAccessSignature");
  if (name && key) {
    // A key that is not valid Base64 gives no key bytes; the service then refuses the signature.
    std::vector<uint8_t> keyBytes = qvr::azs::base64Decode(*key).value_or(std::vector<uint8_t>());
    account->storageCredentials =
        std::make_shared<AZSStorageCredentials>(AZSStorageCredentials::initWithAccountName(*name, keyBytes));
  } else if (sas) {
    account->storageCredentials =
        std::make_shared<AZSStorageCredentials>(AZSStorageCredentials::initWithSASToken(*sas));
  } else {
    account->storageCredentials = std::make_shared<AZSStorageCredentials>();
  }

  if (const std::string* endpoint = get("BlobEndpoint")) {
    auto url = qvr::azs::UrlComponents::parse(*endpoint);
    if (!url) return nullptr;
    account->blob_endpoint = AZSStorageUri(*url);
    account->explicitEndpoints = true;
  } else {
    if (!name || name->empty()) return nullptr;
    const std::string scheme = account->useHttps ? "https" : "http";
    const std::string suffix = account->endpointSuffix.empty() ? AZSDefaultEndpointSuffix : account->endpointSuffix;
    auto primary = qvr::azs::UrlComponents::parse(scheme + "://" + *name + ".blob." + suffix);
    auto secondary = qvr::azs::UrlComponents::parse(scheme + "://" + *name + "-secondary.blob." + suffix);
    if (!primary || !secondary || primary->percentEncodedQuery || !primary->percentEncodedPath.empty()) {
      return nullptr;
    }
    account->blob_endpoint = AZSStorageUri(*primary, *secondary);
  }
  return account;
}

std::shared_ptr<AZSCloudBlobClient> AZSCloudStorageAccount::getBlobClient() const {
  return AZSCloudBlobClient::initWithStorageUri(blob_endpoint, storageCredentials);
}
