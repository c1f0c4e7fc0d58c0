#include "report/AZSStorageCredentials.h"

AZSStorageCredentials AZSStorageCredentials::initWithAccountName(std::string accountName,
                                                                 std::vector<uint8_t> accountKey) {
  AZSStorageCredentials c;
  c.accountName = std::move(accountName);
  c.accountKey = std::move(accountKey);
  c.kind_ = Kind::SharedKey;
  return c;
}

AZSStorageCredentials AZSStorageCredentials::initWithSASToken(std::string sasToken) {
  AZSStorageCredentials c;
  if (!sasToken.empty() && sasToken.front() == '?') sasToken.erase(0, 1);
  c.sasToken = std::move(sasToken);
  c.kind_ = Kind::SAS;
  return c;
}

AZSStorageUri AZSStorageCredentials::transformWithStorageUri(const AZSStorageUri& uri) const {
  if (!isSAS() || sasToken.empty()) return uri;
  AZSStorageUri out = uri;
  if (out.primaryUri) out.primaryUri->appendQueryParameter(sasToken);
  if (out.secondaryUri) out.secondaryUri->appendQueryParameter(sasToken);
  return out;
}
