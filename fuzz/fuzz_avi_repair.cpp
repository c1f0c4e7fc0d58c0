// libs: qvr_avi qvr_foundation
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "FuzzSupport.h"
#include "avi/RepairFileAvi.h"

// The whole AVI job: header and chunk search and reconstruction. Inputs are repeated up to the
// engine's minimum repairable size so that short inputs reach the search.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string damaged = qvr::fuzz::scratchPath("damaged.avi");
  const std::string repaired = qvr::fuzz::scratchPath("repaired.avi");
  qvr::fuzz::writeWhole(damaged, data, size, RepairFileAvi::kMinRepairableSize);
  qvr::fuzz::QuietDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  (void)engine.fileValidityCheck(damaged);
  engine.retrieveAudioVideoSamplesForFileAtPath(damaged, repaired);
  std::remove(repaired.c_str());
  return 0;
}
