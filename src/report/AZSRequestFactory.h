#pragma once

#include <map>
#include <optional>
#include <string>

#include "report/AZSAccessCondition.h"
#include "report/AZSBlobProperties.h"
#include "report/azs/Http.h"

class AZSOperationContext;

// The four request shapes every operation starts from, and the header groups they share.
class AZSRequestFactory {
 public:
  static qvr::azs::HttpRequest putRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                           double timeout);
  static qvr::azs::HttpRequest getRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                           double timeout);
  static qvr::azs::HttpRequest headRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                            double timeout);
  static qvr::azs::HttpRequest deleteRequestWithUrlComponents(const qvr::azs::UrlComponents& urlComponents,
                                                              double timeout);

  static void addAccessConditionToRequest(qvr::azs::HttpRequest& request, const AZSAccessCondition* condition);
  static void addLeaseIdToRequest(qvr::azs::HttpRequest& request, const AZSAccessCondition* condition);
  static void addMetadataToRequest(qvr::azs::HttpRequest& request, const std::map<std::string, std::string>& metadata);

  // "EEE, dd MMM yyyy HH:mm:ss GMT" in UTC with English names, whatever the process locale.
  static std::optional<std::string> formatDate(std::time_t time);
};

// The requests of the container and block blob operations.
class AZSBlobRequestFactory {
 public:
  static qvr::azs::HttpRequest fetchContainerAttributesWithAccessCondition(const AZSAccessCondition* condition,
                                                                           qvr::azs::UrlComponents urlComponents,
                                                                           double timeout,
                                                                           AZSOperationContext& operationContext);
  // accessType: 0 private, 1 "container", 2 "blob".
  static qvr::azs::HttpRequest createContainerWithAccessType(int64_t accessType,
                                                             const std::map<std::string, std::string>& metadata,
                                                             qvr::azs::UrlComponents urlComponents, double timeout,
                                                             AZSOperationContext& operationContext);
  static qvr::azs::HttpRequest deleteContainerWithAccessCondition(const AZSAccessCondition* condition,
                                                                  qvr::azs::UrlComponents urlComponents, double timeout,
                                                                  AZSOperationContext& operationContext);
  static qvr::azs::HttpRequest putBlockWithLength(uint64_t length, const std::string& blockID,
                                                  const std::optional<std::string>& contentMD5,
                                                  const AZSAccessCondition* condition,
                                                  qvr::azs::UrlComponents urlComponents, double timeout,
                                                  AZSOperationContext& operationContext);
  static qvr::azs::HttpRequest putBlockListWithLength(uint64_t length, const AZSBlobProperties& blobProperties,
                                                      const std::optional<std::string>& contentMD5,
                                                      const std::map<std::string, std::string>& metadata,
                                                      const AZSAccessCondition* condition,
                                                      qvr::azs::UrlComponents urlComponents, double timeout,
                                                      AZSOperationContext& operationContext);
};
