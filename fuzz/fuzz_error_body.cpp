// libs: qvr_report qvr_foundation
#include <cstddef>
#include <cstdint>
#include <vector>

#include "report/AZSOperationContext.h"
#include "report/AZSResponseParser.h"

// The body of a refused blob service request: parsed into the error handed to the caller.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  AZSOperationContext context;
  qvr::Error refused("com.Microsoft.AzureStorage.ErrorDomain", 3);
  const qvr::Error error = AZSResponseParser::processErrorResponseWithData(body, refused, context);
  (void)AZSResponseParser::userInfoForInnerError(error);
  (void)error.toString();
  return 0;
}
