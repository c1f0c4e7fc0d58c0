#include "report/AZSRequestResult.h"

AZSRequestResult::AZSRequestResult(Clock::time_point startTime, int64_t location,
                                   std::shared_ptr<const qvr::azs::HttpResponse> response,
                                   std::optional<qvr::Error> error)
    : responseAvailable(response != nullptr),
      targetLocation(location),
      startTime(startTime),
      endTime(Clock::now()),
      response(std::move(response)),
      error(std::move(error)) {
  if (!this->response) return;
  serviceRequestID = this->response->valueForHeader("x-ms-request-id").value_or("");
  serviceRequestDate = this->response->valueForHeader("Date").value_or("");
  contentReceivedMD5 = this->response->valueForHeader("Content-MD5").value_or("");
  etag = this->response->valueForHeader("ETag").value_or("");
  std::string length = this->response->valueForHeader("Content-Length").value_or("");
  char* end = nullptr;
  long long n = std::strtoll(length.c_str(), &end, 10);
  if (!length.empty() && end && *end == '\0' && n >= 0) contentReceivedLength = n;
}

qvr::UserInfo AZSRequestResult::userInfo() const {
  qvr::UserInfo info;
  info["responseAvailable"] = static_cast<int64_t>(responseAvailable);
  info["targetLocation"] = targetLocation;
  info["HTTP Status Code"] = static_cast<int64_t>(statusCode());
  info["serviceRequestID"] = serviceRequestID;
  info["serviceRequestDate"] = serviceRequestDate;
  info["contentReceivedLength"] = contentReceivedLength;
  info["etag"] = etag;
  return info;
}

qvr::UserInfo responseUserInfo(const qvr::azs::HttpResponse& response) {
  qvr::UserInfo headers;
  for (const auto& [name, value] : response.headers) headers[name] = value;
  qvr::UserInfo info;
  info["URL"] = response.url;
  info["statusCode"] = static_cast<int64_t>(response.statusCode);
  info["allHeaderFields"] = headers;
  return info;
}
