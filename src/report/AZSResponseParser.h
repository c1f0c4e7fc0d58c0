#pragma once

#include <optional>
#include <vector>

#include "foundation/Error.h"
#include "report/azs/Http.h"

class AZSOperationContext;
class AZSRequestResult;

class AZSResponseParser {
 public:
  // The statuses 200, 201, 202, 204 and 206 are accepted; any other is an error of code 3.
  static std::optional<qvr::Error> preprocessResponseWithResponse(const qvr::azs::HttpResponse& response,
                                                                  const AZSRequestResult& requestResult,
                                                                  AZSOperationContext& operationContext);

  // Adds the answer's body to a refused request's error: the raw bytes, and "Code", "Message" and the
  // other children of an "Error" element. A body that does not parse turns the error into code 6.
  static qvr::Error processErrorResponseWithData(const std::vector<uint8_t>& body, qvr::Error error,
                                                 AZSOperationContext& operationContext);

  // An error nested under "InnerError": its domain, code and userInfo.
  static qvr::UserInfo userInfoForInnerError(const qvr::Error& error);
};
