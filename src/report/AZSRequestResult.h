#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Error.h"
#include "report/azs/Http.h"

// What one attempt of an operation got back.
class AZSRequestResult {
 public:
  using Clock = std::chrono::system_clock;

  AZSRequestResult(Clock::time_point startTime, int64_t location,
                   std::shared_ptr<const qvr::azs::HttpResponse> response, std::optional<qvr::Error> error);

  bool responseAvailable = false;
  int64_t targetLocation = 0;
  Clock::time_point startTime;
  Clock::time_point endTime;  // the moment this result was made
  std::shared_ptr<const qvr::azs::HttpResponse> response;
  std::string serviceRequestID;       // "x-ms-request-id"
  std::string serviceRequestDate;     // "Date"
  int64_t contentReceivedLength = 0;  // "Content-Length"
  std::string contentReceivedMD5;     // "Content-MD5"
  std::string etag;                   // "ETag"
  std::optional<qvr::Error> error;
  std::string calculatedResponseMD5;

  // The HTTP status, or 0 when no answer arrived.
  long statusCode() const { return response ? response->statusCode : 0; }
  // A readable copy for an error's userInfo.
  qvr::UserInfo userInfo() const;
};

// The answer's head as an error's userInfo carries it.
qvr::UserInfo responseUserInfo(const qvr::azs::HttpResponse& response);
