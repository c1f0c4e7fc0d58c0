#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "report/AZSAuthenticationHandler.h"
#include "report/AZSStorageCredentials.h"

// Shared Key authorisation: an HMAC-SHA256 over the canonical form of the request, keyed by the account key.
class AZSSharedKeyBlobAuthenticationHandler : public AZSAuthenticationHandler {
 public:
  explicit AZSSharedKeyBlobAuthenticationHandler(std::shared_ptr<AZSStorageCredentials> credentials)
      : credentials(std::move(credentials)) {}

  // Sets "x-ms-date" and "Authorization". A date that cannot be formatted gives an error and leaves
  // the request unsigned.
  std::optional<qvr::Error> signRequest(qvr::azs::HttpRequest& request, AZSOperationContext& operationContext) override;

  // The text that is signed, for a request whose "x-ms-date" is already set.
  std::string stringToSign(const qvr::azs::HttpRequest& request) const;

  std::shared_ptr<AZSStorageCredentials> credentials;
  // Where the request date comes from; replaceable so that a date beyond the formatter's range can be tried.
  std::function<std::time_t()> clock = [] { return std::time(nullptr); };
};
