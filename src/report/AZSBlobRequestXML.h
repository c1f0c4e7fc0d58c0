#pragma once

#include <optional>
#include <string>
#include <vector>

#include "foundation/Error.h"
#include "report/AZSBlockListItem.h"

class AZSOperationContext;

class AZSBlobRequestXML {
 public:
  // The body of a put-block-list request: a "BlockList" element with one "Latest", "Committed" or
  // "Uncommitted" element per item. None, with `error` set to code 7, when it cannot be written.
  static std::optional<std::string> createBlockListXMLFromArray(const std::vector<AZSBlockListItem>& blockList,
                                                                AZSOperationContext& operationContext,
                                                                std::optional<qvr::Error>& error);
};
