#include <gtest/gtest.h>

#include "bitstream/BitstreamTestSupport.h"
#include "bitstream/UeSeNumCode.h"

// The codes themselves are read in every field of the streams test; these are the edges damaged
// data reaches.
namespace {
struct Reader {
  std::vector<uint8_t> bytes;
  uint32_t byte = 0, bit = 0;
  uint32_t u(uint32_t n) { return UeSeNumCode::getUnitCodeNumFromBytes(bytes, byte, bit, n); }
  uint32_t ue() { return UeSeNumCode::getUEVCodeNumFromBytes(bytes, byte, bit); }
  uint32_t at() const { return byte * 8 + bit; }
};
}  // namespace

TEST(UeSeNumCode, EdgesOfTheCodesAndOfTheBuffer) {
  // The largest value a 31-bit prefix carries; u(0) reads nothing; a 40-bit skip moves 40 bits.
  Reader r{bstest::BitWriter().ue(0xfffffffe).u(8, 0xab).u(40, 0).u(8, 0xcd).bytes()};
  EXPECT_EQ(r.ue(), 0xfffffffeu);
  EXPECT_EQ(std::vector<uint32_t>({r.u(0), r.u(8), r.u(40), r.u(8)}), std::vector<uint32_t>({0, 0xab, 0, 0xcd}));
  // Bits past the end read as 0. All zeros: the prefix stops at 31 bits, 63 bits are consumed.
  Reader one{{0xff}}, zeros{std::vector<uint8_t>(16, 0)}, empty{{}};
  EXPECT_EQ(std::vector<uint32_t>({one.u(12), zeros.ue(), zeros.at(), empty.ue()}),
            std::vector<uint32_t>({0xff0, 0x7fffffff, 63, 0x7fffffff}));
  // Skips of billions of bits are immediate and saturate rather than wrap back to byte 0.
  Reader far{{0xff}, 100, 0};
  far.u(0xffffffff);
  far.u(0xffffffff);
  EXPECT_GE(far.byte, 100u);
  EXPECT_EQ(far.u(8), 0u);
}
