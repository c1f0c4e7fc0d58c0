// libs: qvr_avi qvr_foundation
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "avi/RepairFileAvi.h"

// The validity check that runs before an AVI job, on the head of a damaged file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qvr::fuzz::scratchPath("check.avi");
  qvr::fuzz::writeWhole(path, data, size);
  RepairFileAvi engine;
  (void)engine.fileValidityCheck(path);
  return 0;
}
