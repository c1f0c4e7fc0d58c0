// libs: qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bitstream/NALU.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader_265.h"
#include "bitstream/VPS_265.h"

namespace {

// Parameter sets of a real x265 stream (Main profile, 640x360), as its decoder configuration
// record stores them.
constexpr uint8_t kVps[] = {0x40, 0x01, 0x0c, 0x01, 0xff, 0xff, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00,
                            0x90, 0x00, 0x00, 0x03, 0x00, 0x00, 0x03, 0x00, 0x3f, 0x95, 0x94, 0x09};
constexpr uint8_t kSps[] = {0x42, 0x01, 0x01, 0x01, 0x60, 0x00, 0x00, 0x03, 0x00, 0x90, 0x00, 0x00, 0x03, 0x00,
                            0x00, 0x03, 0x00, 0x3f, 0xa0, 0x05, 0x02, 0x01, 0x69, 0x65, 0x95, 0x96, 0x49, 0x32,
                            0xbc, 0x05, 0xa0, 0x20, 0x00, 0x00, 0x03, 0x00, 0x20, 0x00, 0x00, 0x03, 0x03, 0x21};
constexpr uint8_t kPps[] = {0x44, 0x01, 0xc1, 0x72, 0xb4, 0x22, 0x40};

struct Reference {
  std::unique_ptr<VPS_265> vps = VPS_265::initVPS265WithBytes(kVps, sizeof kVps);
  std::unique_ptr<SPS_265> sps = SPS_265::initSPS265WithBytes(kSps, sizeof kSps, 640, 360);
  std::unique_ptr<PPS_265> pps = PPS_265::initPPS265WithBytes(kPps, sizeof kPps, sps.get());
};

}  // namespace

// A candidate length-prefixed unit judged the way the scan judges it (a 50-byte window, and the
// whole buffer), then the VPS, SPS, PPS and slice segment header parsers on their own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Reference ref;
  if (!ref.vps || !ref.sps || !ref.pps) __builtin_trap();  // the embedded sets must stay valid
  if (size > UINT32_MAX) return 0;
  const uint32_t n = uint32_t(size);
  for (uint32_t width : {4u, 2u}) {
    (void)NALU::initNALUWithBytes(data, n < 50 ? n : 50, width, ref.vps.get(), ref.sps.get(), ref.pps.get());
    (void)NALU::initNALUWithBytes(data, n, width, ref.vps.get(), ref.sps.get(), ref.pps.get());
  }
  if (n > 4) {
    const uint8_t* unit = data + 4;
    const uint32_t m = n - 4;
    (void)VPS_265::initVPS265WithBytes(unit, m);
    auto sps = SPS_265::initSPS265WithBytes(unit, m, 640, 360);
    (void)PPS_265::initPPS265WithBytes(unit, m, sps ? sps.get() : ref.sps.get());
    (void)PPS_265::initPPS265WithBytes(unit, m, nullptr);
  }
  if (n > 6) {
    // The slice parser behind a header whose type the fuzzer picks, both as a window and as a
    // whole unit.
    NALU nalu;
    nalu.NALType = (data[4] >> 1) & 0x3f;
    if (nalu.NALType > 21) nalu.NALType %= 22;
    nalu.NTempID = 1;
    for (bool whole : {false, true}) {
      (void)SliceHeader_265::initSLiceHeader265WithBytes(data + 6, n - 6, &nalu, ref.sps.get(), ref.pps.get(),
                                                         ref.vps.get(), whole);
    }
  }
  return 0;
}
