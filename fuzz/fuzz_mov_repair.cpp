// libs: qvr_repair qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "repair/RepairFile.h"

namespace {
// Longer inputs add time per run, not new paths: the scan treats every offset alike.
constexpr size_t kMaxDamagedBytes = 32u << 10;
}  // namespace

// The whole MOV/MP4 job: the fuzzer's bytes after the first are the damaged file, and the first
// picks the real reference movie (H.264 or H.265 video, AAC, PCM or no audio, three tracks). The
// repaired movie is written and thrown away.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kReferences[] = {
      "h264_aac_mp4/reference.mp4",       "hevc_aac_mp4/reference.mp4",
      "h264_sowt_mov/reference.mov",      "h264_baseline_multislice/reference.mp4",
      "h264_twos_mov/reference.mov",      "h264_aac_tmcd_mov/reference.mov",
      "h264_sowt_tmcd_mov/reference.mov", "h264_aac_m4v_ntsc_mono/reference.m4v",
  };
  constexpr size_t kCount = sizeof kReferences / sizeof kReferences[0];
  static const std::vector<std::string> references = [] {
    std::vector<std::string> paths;
    for (const char* name : kReferences) {
      paths.push_back(qvr::fuzz::casesDir() + "/" + name);
      if (FILE* f = std::fopen(paths.back().c_str(), "rb")) {
        std::fclose(f);
      } else {
        std::fprintf(stderr, "missing reference %s (set QVR_CASES_DIR)\n", paths.back().c_str());
        std::abort();
      }
    }
    return paths;
  }();
  if (size < 1) return 0;
  const std::string& reference = references[data[0] % kCount];
  ++data;
  --size;
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
