#pragma once

#include <ctime>
#include <optional>
#include <string>

// Conditions a request is made under; each is sent only when it has a value.
struct AZSAccessCondition {
  std::optional<std::string> ifMatchETag;
  std::optional<std::string> ifNoneMatchETag;
  std::optional<std::time_t> ifModifiedSinceDate;
  std::optional<std::time_t> ifUnmodifiedSinceDate;
  std::optional<std::string> leaseId;
};
