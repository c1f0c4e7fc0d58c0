#pragma once

#include <optional>

#include "foundation/Error.h"
#include "report/azs/Http.h"

class AZSOperationContext;

// Signs a request just before it is sent. An error means the request must not be sent.
class AZSAuthenticationHandler {
 public:
  virtual ~AZSAuthenticationHandler() = default;
  virtual std::optional<qvr::Error> signRequest(qvr::azs::HttpRequest& request,
                                                AZSOperationContext& operationContext) = 0;
};

// For accounts without a shared key: requests go out unsigned.
class AZSNoOpAuthenticationHandler : public AZSAuthenticationHandler {
 public:
  std::optional<qvr::Error> signRequest(qvr::azs::HttpRequest&, AZSOperationContext&) override { return std::nullopt; }
};
