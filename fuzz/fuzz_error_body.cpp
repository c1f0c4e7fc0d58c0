// libs: qvr_report qvr_foundation
#include <cstddef>
#include <cstdint>
#include <vector>

#include "report/AZSErrors.h"
#include "report/AZSOperationContext.h"
#include "report/AZSResponseParser.h"

// The body of a refused blob service request: parsed into the error handed to the caller.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> body(data, data + size);
  AZSOperationContext context;
  qvr::Error refused(AZSErrorDomain, AZSEServerError);
  const qvr::Error error = AZSResponseParser::processErrorResponseWithData(body, refused, context);
  // Whatever the body, the caller gets the service's refusal or an unreadable-body error, nothing else.
  if (error.domain != AZSErrorDomain || (error.code != AZSEServerError && error.code != AZSEXMLParseError))
    __builtin_trap();
  (void)AZSResponseParser::userInfoForInnerError(error);
  (void)error.toString();
  return 0;
}
