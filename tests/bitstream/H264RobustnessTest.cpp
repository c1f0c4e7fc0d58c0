#include <gtest/gtest.h>

#include <random>

#include "bitstream/H264TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

using h264test::BitWriter;

// Damaged input through every H.264 parser: a fixed-seed stream of mutated units. Every buffer
// is a heap block of exactly the size handed over, so the sanitizer build sees any read past it.
namespace {

std::vector<std::vector<uint8_t>> seedUnits() {
  std::vector<std::vector<uint8_t>> seeds;
  // High 4:2:0 SPS with a scaling list and a picture-order-count cycle, a 4:4:4 SPS with
  // separate planes and cropping, a field-coded main SPS.
  BitWriter a;
  a.u(8, 0x67).u(8, 100).u(8, 0).u(8, 40).ue(0).ue(1).ue(0).ue(0).u(1, 0).u(1, 1).u(1, 1);
  for (int j = 0; j < 16; ++j) a.se(j - 8);
  a.u(7, 0).ue(4).ue(1).u(1, 0).se(-2).se(2).ue(2).se(1).se(1).ue(3).u(1, 0).ue(44).ue(29).u(1, 1).u(1, 1);
  a.u(1, 0).u(1, 0).trailing();
  seeds.push_back(a.bytes());
  BitWriter b;
  b.u(8, 0x67).u(8, 244).u(8, 0).u(8, 50).ue(1).ue(3).u(1, 1).ue(2).ue(2).u(1, 1).u(1, 0).ue(12).ue(0).ue(8);
  b.ue(16).u(1, 0).ue(119).ue(67).u(1, 1).u(1, 0).u(1, 1).ue(0).ue(0).ue(0).ue(4).u(1, 1).trailing();
  seeds.push_back(b.bytes());
  BitWriter c;
  c.u(8, 0x67).u(8, 77).u(8, 0).u(8, 30).ue(0).ue(0).ue(0).ue(2).ue(3).u(1, 0).ue(21).ue(17).u(1, 0).u(1, 1);
  c.u(1, 1).u(1, 0).u(1, 0).trailing();
  seeds.push_back(c.bytes());
  // PPS with slice groups of type 6, and a plain CABAC one with weighted prediction.
  BitWriter d;
  d.u(8, 0x68).ue(0).ue(0).u(1, 0).u(1, 1).ue(3).ue(6).ue(40);
  for (int i = 0; i <= 40; ++i) d.u(2, i % 4);
  d.ue(0).ue(0).u(1, 0).u(2, 0).se(0).se(0).se(0).u(1, 1).u(1, 0).u(1, 0).trailing();
  seeds.push_back(d.bytes());
  BitWriter e;
  e.u(8, 0x68).ue(0).ue(0).u(1, 1).u(1, 1).ue(0).ue(2).ue(1).u(1, 1).u(2, 1).se(-3).se(0).se(-2).u(1, 1).u(1, 0);
  e.u(1, 1).u(1, 1).trailing();
  seeds.push_back(e.bytes());
  // Slices: IDR, P with list modification and weights, B with marking operations, AUD and SEI.
  BitWriter f;
  f.u(8, 0x65).ue(0).ue(7).ue(0).u(4, 0).u(1, 0).ue(0).u(6, 0).se(0).u(2, 0).se(-12).u(64, 0x123456789ABCDEFull);
  seeds.push_back(f.bytes());
  BitWriter g;
  g.u(8, 0x41).ue(300).ue(5).ue(0).u(4, 3).u(1, 0).u(6, 8).ue(0).u(1, 1).ue(1).u(1, 1).ue(0).ue(1).ue(3);
  g.ue(5).ue(4).u(1, 1).se(60).se(-2).u(1, 1).se(1).se(2).se(3).se(4).u(1, 1).ue(1).ue(0).ue(0).ue(1).se(5);
  g.u(64, 0xFEDCBA9876543210ull);
  seeds.push_back(g.bytes());
  BitWriter h;
  h.u(8, 0x01).ue(99).ue(6).ue(0).u(4, 9).u(1, 1).u(1, 1).u(6, 3).ue(0).u(1, 1).u(1, 0).u(1, 0).u(1, 0).ue(2);
  h.se(-7).u(64, 0);
  seeds.push_back(h.bytes());
  seeds.push_back({0x09, 0x10});
  seeds.push_back({0x06, 0x05, 0x10, 0xDC, 0x45, 0xE9, 0xBD, 0xE6, 0xD9, 0x48, 0xB7, 0x96, 0x2C, 0xD8, 0x20, 0xD9});
  return seeds;
}

std::vector<int64_t> fieldsOf(const SPS& s) {
  return {s.profile_idc,
          s.level_idc,
          s.seq_parameter_set_id,
          s.chroma_format_idc,
          s.separate_colour_plane_flag,
          s.bit_depth_luma_minus8,
          s.bit_depth_chroma_minus8,
          s.seq_scaling_matrix_present_flag,
          s.log2_max_frame_num_minus4,
          s.pic_order_cnt_type,
          s.log2_max_pic_order_cnt_lsb_minus4,
          s.max_num_ref_frames,
          s.pic_width_in_mbs_minus1,
          s.pic_height_in_map_units_minus1,
          s.frame_mbs_only_flag,
          s.mb_adaptive_frame_field_flag,
          s.frame_cropping_flag,
          s.frame_crop_bottom_offset,
          s.vui_parameters_present_flag,
          s.RawMbBits,
          s.MaxFrameNum,
          s.PicSizeInMapUnits,
          s.FrameHeightInMbs};
}

std::vector<int64_t> fieldsOf(const PPS& p) {
  return {p.pic_parameter_set_id,          p.seq_parameter_set_id,    p.entropy_coding_mode_flag,
          p.pic_order_present_flag,        p.num_slice_groups_minus1, p.num_ref_idx_l0_active_minus1,
          p.weighted_bipred_idc,           p.pic_init_qp_minus26,     p.chroma_qp_index_offset,
          p.redundant_pic_cnt_present_flag};
}

std::vector<int64_t> fieldsOf(const SliceHeader& h) {
  return {h.first_mb_in_slice, h.slice_type,   h.pic_parameter_set_id, h.frame_num,
          h.field_pic_flag,    h.idr_pic_id,   h.pic_order_cnt_lsb,    h.delta_pic_order_cnt_bottom,
          h.slice_qp_delta,    h.PicSizeInMbs, h.CurrPicNum,           h.dec_ref_pic_marking.long_term_reference_flag};
}

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : rng_(seed) {}
  uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng_); }
  std::vector<uint8_t> mutate(std::vector<uint8_t> u) {
    switch (below(5)) {
      case 0:  // a few flipped bits
        for (uint32_t i = 0, n = 1 + below(8); i < n && !u.empty(); ++i) u[below(uint32_t(u.size()))] ^= 1 << below(8);
        break;
      case 1:  // overwritten bytes
        for (uint32_t i = 0, n = 1 + below(4); i < n && !u.empty(); ++i)
          u[below(uint32_t(u.size()))] = uint8_t(below(256));
        break;
      case 2:  // cut short
        u.resize(below(uint32_t(u.size()) + 1));
        break;
      case 3:  // zeros: Exp-Golomb prefixes that never end
        for (size_t i = 1 + below(3); i < u.size(); ++i) u[i] = 0;
        break;
      default:  // random tail
        for (size_t i = below(uint32_t(u.size()) + 1); i < u.size(); ++i) u[i] = uint8_t(below(256));
        break;
    }
    return u;
  }

 private:
  std::mt19937 rng_;
};

}  // namespace

TEST(H264Robustness, MutatedUnitsThroughEveryParser) {
  const auto seeds = seedUnits();
  auto sane = [&](size_t i) { return seeds[i]; };
  auto refSps = SPS::initSPSWithBytes(sane(0).data(), uint32_t(sane(0).size()));
  auto refPps = PPS::initPPSWithBytes(sane(4).data(), uint32_t(sane(4).size()));
  Mutator m(20261206);
  size_t acceptedUnits = 0;
  for (int iteration = 0; iteration < 4000; ++iteration) {
    auto unit = m.mutate(seeds[m.below(uint32_t(seeds.size()))]);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[unit.size() ? unit.size() : 1]);
    std::copy(unit.begin(), unit.end(), exact.get());
    const auto size = uint32_t(unit.size());

    // Parameter sets over exactly their bytes; what lies beyond `size` must not matter.
    auto sps = SPS::initSPSWithBytes(exact.get(), size);
    auto pps = PPS::initPPSWithBytes(exact.get(), size);
    ASSERT_NE(sps, nullptr);
    ASSERT_NE(pps, nullptr);
    auto garbageTail = unit;
    garbageTail.resize(unit.size() + 64, 0xFF);
    EXPECT_EQ(fieldsOf(*SPS::initSPSWithBytes(garbageTail.data(), size)), fieldsOf(*sps)) << iteration;
    EXPECT_EQ(fieldsOf(*PPS::initPPSWithBytes(garbageTail.data(), size)), fieldsOf(*pps)) << iteration;

    // Slice headers against the sane references and against damaged ones.
    if (size > 1) {
      for (uint32_t type : {1u, 5u}) {
        NALU n;
        n.NALType = type;
        n.NRI = m.below(4);
        auto h = SliceHeader::initIDRWithBytes(exact.get() + 1, size - 1, &n, refSps.get(), refPps.get());
        auto again = SliceHeader::initIDRWithBytes(garbageTail.data() + 1, size - 1, &n, refSps.get(), refPps.get());
        ASSERT_EQ(h != nullptr, again != nullptr) << iteration;
        if (h) {
          EXPECT_EQ(fieldsOf(*h), fieldsOf(*again)) << iteration;
          EXPECT_GE(h->slice_type, 0);
          EXPECT_LE(h->slice_type, 9);
        }
        SliceHeader::initIDRWithBytes(exact.get() + 1, size - 1, &n, sps.get(), pps.get());
      }
    }

    // The whole unit behind a length prefix of every width, in a window cut at every length the
    // scan could hand over near the end of a file.
    const uint32_t L = 1 + m.below(4);
    std::vector<uint8_t> prefixed;
    const uint32_t declared = m.below(3) == 0 ? m.below(2000) : size;
    for (uint32_t i = L; i-- > 0;) prefixed.push_back(uint8_t(uint64_t(declared) >> (8 * i)));
    prefixed.insert(prefixed.end(), unit.begin(), unit.end());
    const uint32_t windowSize = m.below(uint32_t(prefixed.size()) + 1);
    std::unique_ptr<uint8_t[]> window(new uint8_t[windowSize ? windowSize : 1]);
    std::copy(prefixed.begin(), prefixed.begin() + windowSize, window.get());
    const SPS* useSps = m.below(2) ? refSps.get() : sps.get();
    const PPS* usePps = m.below(2) ? refPps.get() : pps.get();
    auto nalu = NALU::initNALUWithBytes(window.get(), windowSize, L, useSps, usePps);
    if (nalu) {
      ++acceptedUnits;
      EXPECT_EQ(nalu->forbiddenBit, 0u);
      EXPECT_EQ(nalu->nalSize, (uint64_t(declared) & ((uint64_t(1) << (8 * L)) - 1)) + L);
      if (nalu->NALType == 1 || nalu->NALType == 5) {
        EXPECT_NE(dynamic_cast<SliceHeader*>(nalu->RBSP.get()), nullptr);
        EXPECT_GE(nalu->sliceType, 0);
        EXPECT_LE(nalu->sliceType, 9);
      } else if (nalu->NALType == 7) {
        ASSERT_NE(dynamic_cast<SPS*>(nalu->RBSP.get()), nullptr);
        EXPECT_EQ(static_cast<SPS*>(nalu->RBSP.get())->seq_parameter_set_id, useSps->seq_parameter_set_id);
      } else if (nalu->NALType == 8) {
        EXPECT_NE(dynamic_cast<PPS*>(nalu->RBSP.get()), nullptr);
      } else {
        EXPECT_TRUE(nalu->NALType == 6 || nalu->NALType == 9) << nalu->NALType;
        EXPECT_EQ(nalu->RBSP, nullptr);
      }
    }
    NALU::initNALUWithByte(unit.empty() ? 0 : unit[0]);
  }
  // The mutations keep enough units plausible for the acceptance paths to be exercised too.
  EXPECT_GT(acceptedUnits, 300u);
}
