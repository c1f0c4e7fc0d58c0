// libs: qvr_repair qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "FuzzSupport.h"
#include "repair/RepairFile.h"

namespace {
// Longer inputs add time per run, not new paths: the scan treats every offset alike.
constexpr size_t kMaxDamagedBytes = 96u << 10;
}  // namespace

// The whole MOV/MP4 job: the fuzzer's bytes are the damaged file, a real H.264+AAC movie is the
// reference, and the repaired movie is written and thrown away.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string reference = qvr::fuzz::fixturesDir() + "/h264_aac_mp4/reference.mp4";
  static const bool haveReference = [] {
    FILE* f = std::fopen(reference.c_str(), "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "missing reference %s (set QVR_FIXTURES_DIR)\n", reference.c_str());
      std::abort();
    }
    std::fclose(f);
    return true;
  }();
  (void)haveReference;
  const std::string damaged = qvr::fuzz::scratchPath("damaged.mp4");
  const std::string repaired = qvr::fuzz::scratchPath("repaired.mov");
  qvr::fuzz::writeWhole(damaged, data, size < kMaxDamagedBytes ? size : kMaxDamagedBytes);
  qvr::fuzz::QuietDelegate delegate;
  RepairFile job;
  job.delegate = &delegate;
  job.repairMOVWithRefFileAtPath(reference, damaged, repaired);
  std::remove(repaired.c_str());
  return 0;
}
