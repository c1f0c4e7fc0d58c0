// libs: qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

namespace {

// Parameter sets of a real x264 stream (Main profile, CABAC, B-frames, 640x360), as its decoder
// configuration record stores them.
constexpr uint8_t kSps[] = {0x67, 0x4d, 0x40, 0x1e, 0xec, 0xa0, 0x50, 0x17, 0xfc, 0xb8, 0x08, 0x80,
                            0x00, 0x00, 0x03, 0x00, 0x80, 0x00, 0x00, 0x19, 0x07, 0x8b, 0x16, 0xcb};
constexpr uint8_t kPps[] = {0x68, 0xea, 0xec, 0xb2};

struct Reference {
  std::unique_ptr<SPS> sps = SPS::initSPSWithBytes(kSps, sizeof kSps);
  std::unique_ptr<PPS> pps = PPS::initPPSWithBytes(kPps, sizeof kPps);
};

// What the scan relies on in a unit it accepts: the size is the prefix's value plus its width, a
// slice has a valid type and its header, an SPS is the reference's.
void checkAccepted(const NALU* n, const uint8_t* data, uint32_t width, const SPS& sps) {
  if (!n) return;
  uint64_t prefix = 0;
  for (uint32_t i = 0; i < width; ++i) prefix = prefix << 8 | data[i];
  if (n->nalSize != prefix + width) __builtin_trap();
  if ((n->NALType == 1 || n->NALType == 5) &&
      (uint32_t(n->sliceType) > 9 || !dynamic_cast<const SliceHeader*>(n->RBSP.get()))) {
    __builtin_trap();
  }
  if (n->NALType == 7 && dynamic_cast<const SPS&>(*n->RBSP).seq_parameter_set_id != sps.seq_parameter_set_id) {
    __builtin_trap();
  }
}

}  // namespace

// A candidate length-prefixed unit judged the way the scan judges it (a 50-byte window, and the
// whole buffer), with every prefix width; then the SPS, PPS and slice header parsers on their own.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Reference ref;
  if (!ref.sps || !ref.pps) __builtin_trap();  // the embedded sets must stay valid
  if (size > UINT32_MAX) return 0;
  const uint32_t n = uint32_t(size);
  for (uint32_t width : {4u, 2u, 1u}) {
    checkAccepted(NALU::initNALUWithBytes(data, n < 50 ? n : 50, width, ref.sps.get(), ref.pps.get()).get(), data,
                  width, *ref.sps);
    checkAccepted(NALU::initNALUWithBytes(data, n, width, ref.sps.get(), ref.pps.get()).get(), data, width, *ref.sps);
  }
  (void)NALU::initNALUWithBytes(data, n, 4, nullptr, nullptr);
  if (n > 4) {
    (void)SPS::initSPSWithBytes(data + 4, n - 4);
    (void)PPS::initPPSWithBytes(data + 4, n - 4);
    if (auto header = NALU::initNALUWithByte(data[4])) {
      (void)SliceHeader::initIDRWithBytes(data + 5, n - 5, header.get(), ref.sps.get(), ref.pps.get());
    }
  }
  return 0;
}
