#include <gtest/gtest.h>

#include "bitstream/H264TestSupport.h"
#include "bitstream/UeSeNumCode.h"

using h264test::BitWriter;

namespace {
struct Reader {
  std::vector<uint8_t> bytes;
  uint32_t byte = 0, bit = 0;
  uint32_t u(uint32_t n) { return UeSeNumCode::getUnitCodeNumFromBytes(bytes, byte, bit, n); }
  uint32_t ue() { return UeSeNumCode::getUEVCodeNumFromBytes(bytes, byte, bit); }
  int32_t se() { return int32_t(UeSeNumCode::getSEVCodeNumFromBytes(bytes, byte, bit)); }
};
}  // namespace

TEST(UeSeNumCode, DecodesFixedLengthAndExpGolombCodes) {
  const auto codes = BitWriter().bits("101001100100").bytes();  // 1 010 011 00100
  Reader ue{codes}, se{codes};
  for (uint32_t v : {0u, 1u, 2u, 3u}) EXPECT_EQ(ue.ue(), v);
  for (int32_t v : {0, 1, -1, 2}) EXPECT_EQ(se.se(), v);
  EXPECT_EQ(ue.byte * 8 + ue.bit, 12u);

  // Every alignment, the largest value a 31-bit prefix carries, u(0) reading nothing, and u(n)
  // longer than 32 bits keeping the last 32 as an accumulator would.
  BitWriter w;
  for (uint32_t v = 0; v < 600; v += 7) w.ue(v).se(-int32_t(v)).u(3, v & 7);
  w.ue(0xFFFFFFFEu).u(8, 0xAB).u(40, 0x12345678CDull);
  Reader r{w.bytes()};
  for (uint32_t v = 0; v < 600; v += 7) {
    ASSERT_EQ(r.ue(), v);
    ASSERT_EQ(r.se(), -int32_t(v));
    ASSERT_EQ(r.u(3), v & 7);
  }
  EXPECT_EQ(r.ue(), 0xFFFFFFFEu);
  const uint32_t before = r.byte * 8 + r.bit;
  EXPECT_EQ(r.u(0), 0u);
  EXPECT_EQ(r.byte * 8 + r.bit, before);
  EXPECT_EQ(UeSeNumCode::getBitInBytes(r.bytes, r.byte, r.bit), 1u);
  EXPECT_EQ(r.u(7), 0x2Bu);
  EXPECT_EQ(r.u(40), 0x345678CDu);
}

TEST(UeSeNumCode, StaysInsideItsBuffer) {
  Reader one{{0xFF}};
  EXPECT_EQ(one.u(12), 0xFF0u);  // missing bits read as 0
  // All zeros: the prefix stops at 31 bits, so the value is bounded and 63 bits are consumed.
  Reader zeros{std::vector<uint8_t>(16, 0)};
  EXPECT_EQ(zeros.ue(), 0x7FFFFFFFu);
  EXPECT_EQ(zeros.byte * 8 + zeros.bit, 63u);
  Reader empty{{}};
  EXPECT_EQ(empty.ue(), 0x7FFFFFFFu);
  // Skips of billions of bits are immediate and saturate rather than wrap back to byte 0.
  Reader far{{0xFF}, 100, 0};
  far.u(0xFFFFFFFFu);
  far.u(0xFFFFFFFFu);
  EXPECT_GE(far.byte, 100u);
  EXPECT_EQ(far.u(8), 0u);
  // A bit position outside 0..7 is folded into the byte position.
  Reader odd{{0x00, 0x80}, 0, 8};
  EXPECT_EQ(odd.u(1), 1u);
}
