// libs: qvr_foundation
#include <cstddef>
#include <cstdint>

#include "foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)qvr::parsePropertyList(data, size);
  return 0;
}
