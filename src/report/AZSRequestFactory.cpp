#include "report/AZSRequestFactory.h"

#include <locale.h>

namespace {
qvr::azs::HttpRequest baseRequest(const char* method, const qvr::azs::UrlComponents& urlComponents, double timeout) {
  qvr::azs::HttpRequest request;
  request.method = method;
  request.url = urlComponents;
  request.timeoutInterval = timeout;
  request.ignoresLocalCache = true;
  request.setValue("User-Agent", "iOS-v0.1.1");
  request.setValue("x-ms-version", "2015-02-21");
  return request;
}
}  // namespace

qvr::azs::HttpRequest AZSRequestFactory::putRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                                     double timeout) {
  return baseRequest("PUT", urlComponents, timeout);
}

qvr::azs::HttpRequest AZSRequestFactory::getRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                                     double timeout) {
  return baseRequest("GET", urlComponents, timeout);
}

qvr::azs::HttpRequest AZSRequestFactory::headRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                                      double timeout) {
  return baseRequest("HEAD", urlComponents, timeout);
}

qvr::azs::HttpRequest AZSRequestFactory::deleteRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                                        double timeout) {
  return baseRequest("DELETE", urlComponents, timeout);
}

std::optional<std::string> AZSRequestFactory::formatDate(std::time_t time) {
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  std::tm tm{};
  char buffer[64];
  if (!cLocale || !gmtime_r(&time, &tm)) return std::nullopt;
  size_t n = strftime_l(buffer, sizeof buffer, "%a, %d %b %Y %H:%M:%S GMT", &tm, cLocale);
  if (n == 0) return std::nullopt;
  return std::string(buffer, n);
}

void AZSRequestFactory::addAccessConditionToRequest(qvr::azs::HttpRequest& request,
                                                    const AZSAccessCondition* condition) {
  if (!condition) return;
  if (condition->ifMatchETag) request.setValue("If-Match", *condition->ifMatchETag);
  if (condition->ifNoneMatchETag) request.setValue("If-None-Match", *condition->ifNoneMatchETag);
  if (condition->ifModifiedSinceDate) {
    if (auto date = formatDate(*condition->ifModifiedSinceDate)) request.setValue("If-Modified-Since", *date);
  }
  if (condition->ifUnmodifiedSinceDate) {
    if (auto date = formatDate(*condition->ifUnmodifiedSinceDate)) request.setValue("If-Unmodified-Since", *date);
  }
  addLeaseIdToRequest(request, condition);
}

void AZSRequestFactory::addLeaseIdToRequest(qvr::azs::HttpRequest& request, const AZSAccessCondition* condition) {
  if (condition && condition->leaseId) request.setValue("x-ms-lease-id", *condition->leaseId);
}

void AZSRequestFactory::addMetadataToRequest(qvr::azs::HttpRequest& request,
                                             const std::map<std::string, std::string>& metadata) {
  for (const auto& [name, value] : metadata) request.setValue("x-ms-meta-" + name, value);
}

qvr::azs::HttpRequest AZSBlobRequestFactory::fetchContainerAttributesWithAccessCondition(
    const AZSAccessCondition* condition, qvr::azs::UrlComponents urlComponents, double timeout, AZSOperationContext&) {
  urlComponents.appendQueryParameter("restype=container");
  auto request = AZSRequestFactory::headRequestWithUrlComponents(urlComponents, timeout);
  AZSRequestFactory::addAccessConditionToRequest(request, condition);
  return request;
}

qvr::azs::HttpRequest AZSBlobRequestFactory::createContainerWithAccessType(
    int64_t accessType, const std::map<std::string, std::string>& metadata, qvr::azs::UrlComponents urlComponents,
    double timeout, AZSOperationContext&) {
  urlComponents.appendQueryParameter("restype=container");
  auto request = AZSRequestFactory::putRequestWithUrlComponents(urlComponents, timeout);
  if (accessType == 1) request.setValue("x-ms-blob-public-access", "container");
  if (accessType == 2) request.setValue("x-ms-blob-public-access", "blob");
  AZSRequestFactory::addMetadataToRequest(request, metadata);
  return request;
}

qvr::azs::HttpRequest AZSBlobRequestFactory::deleteContainerWithAccessCondition(const AZSAccessCondition* condition,
                                                                                qvr::azs::UrlComponents urlComponents,
                                                                                double timeout, AZSOperationContext&) {
  urlComponents.appendQueryParameter("restype=container");
  auto request = AZSRequestFactory::deleteRequestWithUrlComponents(urlComponents, timeout);
  AZSRequestFactory::addAccessConditionToRequest(request, condition);
  return request;
}

qvr::azs::HttpRequest AZSBlobRequestFactory::putBlockWithLength(uint64_t length, const std::string& blockID,
                                                                const std::optional<std::string>& contentMD5,
                                                                const AZSAccessCondition* condition,
                                                                qvr::azs::UrlComponents urlComponents, double timeout,
                                                                AZSOperationContext&) {
  urlComponents.appendQueryParameter("comp=block");
  // Block IDs are Base64, whose "+", "/" and "=" would be read differently inside a query; the
  // service decodes the value again, and the signature is made over the decoded form.
  urlComponents.appendQueryParameter("blockid=" + qvr::azs::percentEncode(blockID));
  auto request = AZSRequestFactory::putRequestWithUrlComponents(urlComponents, timeout);
  request.setValue("Content-Length", std::to_string(length));
  AZSRequestFactory::addLeaseIdToRequest(request, condition);
  if (contentMD5) request.setValue("Content-MD5", *contentMD5);
  AZSRequestFactory::addAccessConditionToRequest(request, condition);
  return request;
}

qvr::azs::HttpRequest AZSBlobRequestFactory::putBlockListWithLength(
    uint64_t length, const AZSBlobProperties& blobProperties, const std::optional<std::string>& contentMD5,
    const std::map<std::string, std::string>& metadata, const AZSAccessCondition* condition,
    qvr::azs::UrlComponents urlComponents, double timeout, AZSOperationContext&) {
  urlComponents.appendQueryParameter("comp=blocklist");
  auto request = AZSRequestFactory::putRequestWithUrlComponents(urlComponents, timeout);
  request.setValue("Content-Length", std::to_string(length));
  AZSRequestFactory::addMetadataToRequest(request, metadata);
  auto property = [&request](const char* name, const std::optional<std::string>& value) {
    if (value) request.setValue(name, *value);
  };
  property("x-ms-blob-cache-control", blobProperties.cacheControl);
  property("x-ms-blob-content-disposition", blobProperties.contentDisposition);
  property("x-ms-blob-content-encoding", blobProperties.contentEncoding);
  property("x-ms-blob-content-language", blobProperties.contentLanguage);
  property("x-ms-blob-content-md5", blobProperties.contentMD5);
  property("x-ms-blob-content-type", blobProperties.contentType);
  AZSRequestFactory::addAccessConditionToRequest(request, condition);
  if (contentMD5) request.setValue("Content-MD5", *contentMD5);
  return request;
}
