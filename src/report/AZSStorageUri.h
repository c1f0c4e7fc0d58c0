#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "report/azs/Url.h"

// A primary and an optional secondary address of one storage resource.
class AZSStorageUri {
 public:
  AZSStorageUri() = default;
  explicit AZSStorageUri(qvr::azs::UrlComponents primary, std::optional<qvr::azs::UrlComponents> secondary = {})
      : primaryUri(std::move(primary)), secondaryUri(std::move(secondary)) {}

  std::optional<qvr::azs::UrlComponents> primaryUri;
  std::optional<qvr::azs::UrlComponents> secondaryUri;

  // Location 0 is the primary address, 1 the secondary.
  std::optional<qvr::azs::UrlComponents> urlWithLocation(int64_t location) const {
    return location == 1 ? secondaryUri : primaryUri;
  }
  // Both addresses with "/" and `name` appended to their paths.
  AZSStorageUri appendingPathComponent(const std::string& name) const {
    AZSStorageUri out;
    if (primaryUri) out.primaryUri = primaryUri->appendingPathComponent(name);
    if (secondaryUri) out.secondaryUri = secondaryUri->appendingPathComponent(name);
    return out;
  }
};
