#include <gtest/gtest.h>

#include <vector>

#include "bitstream/H264TestSupport.h"
#include "bitstream/UeSeNumCode.h"

using h264test::BitWriter;

namespace {

struct Pos {
  uint32_t byte = 0;
  uint32_t bit = 0;
};

uint32_t ue(const std::vector<uint8_t>& b, Pos& p) { return UeSeNumCode::getUEVCodeNumFromBytes(b, p.byte, p.bit); }
int32_t se(const std::vector<uint8_t>& b, Pos& p) {
  return int32_t(UeSeNumCode::getSEVCodeNumFromBytes(b, p.byte, p.bit));
}
uint32_t u(const std::vector<uint8_t>& b, Pos& p, uint32_t n) {
  return UeSeNumCode::getUnitCodeNumFromBytes(b, p.byte, p.bit, n);
}

}  // namespace

TEST(UeSeNumCode, ExpGolombCodesDecodeAsTheStandardTables) {
  // 1, 010, 011, 00100 back to back, read once as ue(v) and once as se(v).
  auto bytes = BitWriter()
                   .bits(
                       "1"
                       "010"
                       "011"
                       "00100")
                   .bytes();
  Pos p;
  EXPECT_EQ(ue(bytes, p), 0u);
  EXPECT_EQ(ue(bytes, p), 1u);
  EXPECT_EQ(ue(bytes, p), 2u);
  EXPECT_EQ(ue(bytes, p), 3u);
  EXPECT_EQ(p.byte, 1u);
  EXPECT_EQ(p.bit, 4u);
  Pos q;
  EXPECT_EQ(se(bytes, q), 0);
  EXPECT_EQ(se(bytes, q), 1);
  EXPECT_EQ(se(bytes, q), -1);
  EXPECT_EQ(se(bytes, q), 2);

  // Round trip over a range crossing byte boundaries at every alignment.
  BitWriter w;
  for (uint32_t v = 0; v < 600; v += 7) w.ue(v).se(-int32_t(v)).u(3, v & 7);
  w.ue(0xFFFFFFFEu);  // the largest value a 31-bit prefix can carry
  auto many = w.bytes();
  Pos r;
  for (uint32_t v = 0; v < 600; v += 7) {
    ASSERT_EQ(ue(many, r), v);
    ASSERT_EQ(se(many, r), -int32_t(v));
    ASSERT_EQ(u(many, r, 3), v & 7);
  }
  EXPECT_EQ(ue(many, r), 0xFFFFFFFEu);
}

TEST(UeSeNumCode, FixedLengthReads) {
  std::vector<uint8_t> bytes{0xA5, 0x0F, 0xF0, 0x12, 0x34, 0x56, 0x78, 0x9A};
  Pos p;
  EXPECT_EQ(u(bytes, p, 0), 0u);  // u(0) consumes nothing
  EXPECT_EQ(p.byte, 0u);
  EXPECT_EQ(p.bit, 0u);
  EXPECT_EQ(UeSeNumCode::getBitInBytes(bytes, p.byte, p.bit), 1u);
  EXPECT_EQ(u(bytes, p, 3), 0b010u);
  EXPECT_EQ(u(bytes, p, 8), 0x50u);
  EXPECT_EQ(u(bytes, p, 32), 0xFF012345u);
  EXPECT_EQ(p.byte, 5u);
  EXPECT_EQ(p.bit, 4u);
  // Longer than 32 bits: skipped, the last 32 bits are the value.
  Pos s;
  EXPECT_EQ(u(bytes, s, 40), 0x0FF01234u);
  EXPECT_EQ(s.byte, 5u);
}

TEST(UeSeNumCode, NeverReadsPastTheBufferAndNeverWrapsBack) {
  std::vector<uint8_t> one{0xFF};
  Pos p;
  EXPECT_EQ(u(one, p, 12), 0xFF0u);  // the missing bits read as 0
  EXPECT_EQ(UeSeNumCode::getBitInBytes(one, p.byte, p.bit), 0u);

  // Nothing but zeros: the prefix stops at 31 bits, so the value is bounded and the position
  // moves by exactly 63 bits.
  std::vector<uint8_t> zeros(16, 0);
  Pos z;
  EXPECT_EQ(ue(zeros, z), 0x7FFFFFFFu);
  EXPECT_EQ(z.byte * 8 + z.bit, 63u);

  // An empty buffer and a position far past the end are both fine.
  std::vector<uint8_t> empty;
  Pos e;
  EXPECT_EQ(ue(empty, e), 0x7FFFFFFFu);
  Pos far{0xFFFFFFF0u, 3};
  EXPECT_EQ(u(one, far, 32), 0u);

  // A skip of ~4 billion bits is immediate and saturates instead of wrapping round to byte 0,
  // where the buffer's bits would be read again.
  Pos big{100, 0};
  u(one, big, 0xFFFFFFFFu);
  u(one, big, 0xFFFFFFFFu);
  EXPECT_GE(big.byte, 100u);
  EXPECT_EQ(u(one, big, 8), 0u);

  // A bit position outside 0..7 is folded into the byte position.
  std::vector<uint8_t> two{0x00, 0x80};
  Pos odd{0, 8};
  EXPECT_EQ(UeSeNumCode::getBitInBytes(two, odd.byte, odd.bit), 1u);
}
