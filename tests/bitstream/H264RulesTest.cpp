#include <gtest/gtest.h>

#include "bitstream/BitstreamTestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

using bstest::BitWriter;

// The scan's acceptance rules for H.264 units at their boundaries and on hostile input; the
// streams test covers what real and written units read as.
namespace {

std::vector<uint8_t> sps(uint32_t id, uint32_t log2FrameNumMinus4 = 0) {  // Baseline, POC lsb, 176x144
  BitWriter w;
  w.u(32, 0x6742c01e).ue(id).ue(log2FrameNumMinus4).ue(0).ue(2).ue(1).u(1, 0).ue(10).ue(8).u(4, 0b1100);
  return w.trailing().bytes();
}
// first_mb_in_slice 0, slice_type, pic_parameter_set_id 0, a 4-bit frame_num, then idr_pic_id,
// pic_order_cnt_lsb and slice_qp_delta.
std::vector<uint8_t> slice(uint8_t header, uint32_t sliceType) {
  return BitWriter().u(8, header).ue(0).ue(sliceType).ue(0).u(4, 5).ue(0).u(6, 0).se(-3).trailing().bytes();
}

class H264Rules : public ::testing::Test {
 protected:
  // A scan window: a prefix of L bytes holding `declared` (the unit's size if negative), the unit, zeros.
  std::unique_ptr<NALU> judge(const std::vector<uint8_t>& unit, int64_t declared = -1, uint32_t L = 4,
                              bool withSets = true) {
    auto w = bstest::prefixed(unit, L, declared);
    w.resize(std::max<size_t>(w.size(), 50), 0);
    return NALU::initNALUWithBytes(w.data(), uint32_t(w.size()), L, withSets ? ref.get() : nullptr, pps.get());
  }
  std::vector<uint8_t> s0 = sps(0);
  std::vector<uint8_t> p0 =
      BitWriter().u(8, 0x68).ue(0).ue(0).u(2, 0).ue(0).ue(0).ue(0).u(3, 0).se(0).se(0).se(0).u(3, 4).trailing().bytes();
  std::unique_ptr<SPS> ref = SPS::initSPSWithBytes(s0.data(), uint32_t(s0.size()));
  std::unique_ptr<PPS> pps = PPS::initPPSWithBytes(p0.data(), uint32_t(p0.size()));
};

TEST_F(H264Rules, HeaderByte) {
  // Refused (the streams show the others accepted): IDR, SPS and PPS as non-references, SEI and
  // delimiters as references, data partitions, filler and the rest, a forbidden bit.
  for (uint8_t h : {0x05, 0x07, 0x08, 0x26, 0x69, 0x02, 0x43, 0x44, 0x0c, 0x0a, 0x14, 0x1f, 0x00, 0x81, 0xe5}) {
    EXPECT_EQ(NALU::initNALUWithByte(h), nullptr) << +h;
  }
}

TEST_F(H264Rules, PrefixAndSize) {
  const auto p = slice(0x41, 0);
  const struct {
    std::vector<uint8_t> unit;
    int64_t declared;
    uint32_t L;
    int64_t nalSize;  // -1: refused
  } cases[] = {
      {s0, 796, 4, 800},  // the ceiling of the small units, prefix included
      {s0, 797, 4, -1},
      {p0, 797, 4, -1},
      {{0x06, 5}, 797, 4, -1},
      {{0x09, 0xf0}, 797, 4, -1},
      {slice(0x65, 7), 100000, 4, 100004},  // none for slices
      {p, 0, 4, -1},                        // no room for the header byte
      {p, 0xffffffff, 4, -1},               // sizes that wrap round 32 bits with the prefix
      {p, 0xfffffffc, 4, -1},
      {p, 0xfffffffb, 4, 0xffffffff},
      {p, 300, 2, 302},  // 1- and 2-byte prefixes are read at their own width, others refused
      {p, 200, 1, 201},
      {p, 200, 0, -1},
      {p, 200, 5, -1},
  };
  for (const auto& c : cases) {
    auto n = judge(c.unit, c.declared, c.L);
    EXPECT_EQ(n ? int64_t(n->nalSize) : -1, c.nalSize) << +c.unit[0] << " " << c.declared << " " << c.L;
  }
  // The buffer must hold the header byte; a slice header cut after frame_num is judged on what it
  // read, the rest keeps its initial values.
  const uint8_t tiny[] = {0, 0, 0, 20, 0x41, 0xb8};  // first_mb_in_slice 0, slice_type 2, pps 0, frame_num 0..
  EXPECT_EQ(NALU::initNALUWithBytes(tiny, 4, 4, ref.get(), pps.get()), nullptr);
  EXPECT_EQ(NALU::initNALUWithBytes(nullptr, 50, 4, ref.get(), pps.get()), nullptr);
  auto cut = NALU::initNALUWithBytes(tiny, 6, 4, ref.get(), pps.get());
  ASSERT_NE(cut, nullptr);
  EXPECT_EQ(std::vector<int32_t>({cut->sliceType, dynamic_cast<SliceHeader&>(*cut->RBSP).pic_order_cnt_lsb}),
            std::vector<int32_t>({2, -1}));
}

TEST_F(H264Rules, Payload) {
  for (uint32_t t = 0; t < 20; ++t) {  // IDR slices are I or SI; others of any of the ten types
    EXPECT_EQ(judge(slice(0x65, t)) != nullptr, t == 2 || t == 4 || t == 7 || t == 9) << t;
    EXPECT_EQ(judge(slice(0x41, t)) != nullptr, t <= 9) << t;
  }
  EXPECT_EQ(judge(slice(0x41, 0x80000000u)), nullptr);      // negative as int32
  EXPECT_EQ(judge(slice(0x41, 0), -1, 4, false), nullptr);  // nothing to judge against
  EXPECT_EQ(judge(s0, -1, 4, false), nullptr);
  EXPECT_EQ(judge(sps(1)), nullptr);  // another sequence's SPS
  // A parameter set is read over its own bytes only: behind a prefix ending after its id, zeros
  // (not the next unit's bytes) make up the rest.
  EXPECT_EQ(dynamic_cast<SPS&>(*judge(s0, 5)->RBSP).pic_width_in_mbs_minus1, 0x7fffffff);
  auto other = judge(BitWriter().u(8, 0x68).ue(5).ue(3).u(8, 0xff).bytes());  // kept whatever it refers to
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(dynamic_cast<PPS&>(*other->RBSP).pic_parameter_set_id, 5);
}

// Slow-motion recordings of some phones wrap each picture in a prefix unit (scalable extension
// header) whose units follow behind start codes: the picture is judged by its first slice, with
// only SEI or a delimiter before it.
TEST_F(H264Rules, PicturesWrappedInAPrefixUnit) {
  const std::vector<uint8_t> wrapper = {0x6e, 0xc0, 0x80, 0x0f}, code4 = {0, 0, 0, 1}, code3 = {0, 0, 1};
  const std::vector<uint8_t> sei = {0x06, 0x05, 0x01, 0xaa, 0x80};
  auto wrap = [&](std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> unit;
    for (const auto& part : parts) unit.insert(unit.end(), part.begin(), part.end());
    return unit;
  };
  const struct {
    std::vector<uint8_t> unit;
    int type;  // of the slice that describes the picture; -1: refused
  } cases[] = {
      {wrap({wrapper, code4, slice(0x65, 7)}), 5},
      {wrap({wrapper, code4, sei, code3, slice(0x41, 0)}), 1},
      {wrap({wrapper, slice(0x41, 0)}), -1},                          // no start code
      {wrap({{0xee, 0xc0, 0x80, 0x0f}, code4, slice(0x41, 0)}), -1},  // forbidden bit
      {wrap({wrapper, code4, s0, code3, slice(0x41, 0)}), -1},        // a parameter set inside
      {wrap({wrapper, code4, sei}), -1},                              // no slice
  };
  for (const auto& c : cases) {
    auto n = judge(c.unit);
    EXPECT_EQ(n ? int(n->NALType) : -1, c.type) << &c - cases;
    if (n) {
      EXPECT_EQ(n->nalSize, c.unit.size() + 4);
    }
  }
}

TEST_F(H264Rules, DamagedFrameNumWidth) {
  // 13 is beyond the largest width: no frame number cycle. A width of 2^32 - 1 bits is skipped at once.
  for (uint32_t log2 : {12u, 13u, 0xfffffffbu}) {
    const auto set = sps(0, log2);
    ref = SPS::initSPSWithBytes(set.data(), uint32_t(set.size()));
    EXPECT_EQ(ref->MaxFrameNum, log2 == 12 ? 65536 : 0);
    EXPECT_NE(judge(slice(0x41, 0)), nullptr);
  }
}

}  // namespace
