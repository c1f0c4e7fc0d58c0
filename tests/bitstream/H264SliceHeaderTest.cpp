#include <gtest/gtest.h>

#include <functional>

#include "bitstream/H264TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

using h264test::BitWriter;

namespace {

// Reference sets given field by field: the slice header reads only their numbers.
struct Reference {
  SPS sps;
  PPS pps;
  Reference() {
    sps.separate_colour_plane_flag = 0, sps.log2_max_frame_num_minus4 = 0, sps.MaxFrameNum = 16;
    sps.frame_mbs_only_flag = 1, sps.mb_adaptive_frame_field_flag = 0, sps.pic_order_cnt_type = 0;
    sps.log2_max_pic_order_cnt_lsb_minus4 = 2, sps.PicWidthInMbs = 20, sps.FrameHeightInMbs = 16;
    sps.MbHeightC = 8, sps.ChromaArrayType = 1;
    pps.pic_order_present_flag = 0, pps.entropy_coding_mode_flag = 0, pps.num_ref_idx_l0_active_minus1 = 0;
    pps.num_ref_idx_l1_active_minus1 = 0, pps.weighted_pred_flag = 0, pps.weighted_bipred_idc = 0;
    pps.redundant_pic_cnt_present_flag = 0;
  }
  std::unique_ptr<SliceHeader> parse(const std::vector<uint8_t>& bytes, uint32_t type, uint32_t nri) const {
    NALU n;
    n.NALType = type, n.NRI = nri;
    return SliceHeader::initIDRWithBytes(bytes.data(), uint32_t(bytes.size()), &n, &sps, &pps);
  }
};

// first_mb_in_slice 0, slice_type, pic_parameter_set_id 0, 4-bit frame_num, the rest, and
// zeros to the 46 bytes a 50-byte window leaves after the prefix and header byte.
std::vector<uint8_t> slice(uint32_t sliceType, uint32_t frameNum, const std::function<void(BitWriter&)>& rest = {}) {
  BitWriter w;
  w.ue(0).ue(sliceType).ue(0).u(4, frameNum);
  if (rest) rest(w);
  auto b = w.trailing().bytes();
  b.resize(46, 0);
  return b;
}

}  // namespace

TEST(H264SliceHeader, SliceTypeRules) {
  Reference ref;
  for (uint32_t t = 0; t < 20; ++t) {
    const bool intra = t == 2 || t == 4 || t == 7 || t == 9;
    EXPECT_EQ(ref.parse(slice(t, 0), 5, 3) != nullptr, intra) << t;  // IDR: I or SI only
    EXPECT_EQ(ref.parse(slice(t, 0), 1, 2) != nullptr, t <= 9) << t;
  }
  EXPECT_EQ(ref.parse(slice(0x80000000u, 0), 1, 2), nullptr);  // negative as int32
  EXPECT_EQ(ref.parse(slice(2, 0), 6, 0), nullptr);            // not a slice unit
}

TEST(H264SliceHeader, IdrFieldsAndDerivedValues) {
  Reference ref;
  ref.pps.pic_order_present_flag = 1;
  // idr_pic_id 3, pic_order_cnt_lsb 42, delta_pic_order_cnt_bottom -1, marking (1, 0), qp -12
  auto h = ref.parse(slice(7, 0, [](BitWriter& w) { w.ue(3).u(6, 42).se(-1).bits("10").se(-12); }), 5, 3);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(std::vector<int32_t>({h->idr_pic_id, h->pic_order_cnt_lsb, h->delta_pic_order_cnt_bottom,
                                  h->dec_ref_pic_marking.no_output_of_prior_pics_flag,
                                  h->dec_ref_pic_marking.long_term_reference_flag, h->slice_qp_delta, h->field_pic_flag,
                                  h->bottom_field_flag}),
            std::vector<int32_t>({3, 42, -1, 1, 0, -12, 0, 0}));
  EXPECT_EQ(std::vector<int32_t>({h->PicHeightInMbs, h->PicHeightInSamplesL, h->PicHeightInSamplesC, h->PicSizeInMbs,
                                  h->MaxPicNum, h->CurrPicNum}),
            std::vector<int32_t>({16, 256, 128, 320, 16, 0}));
  EXPECT_EQ(h->totalBytesGiven, 46u);
  // With a picture-order-count cycle the two deltas, not an lsb, precede the marking.
  ref.sps.pic_order_cnt_type = 1, ref.sps.delta_pic_order_always_zero_flag = 0;
  auto c = ref.parse(slice(2, 0, [](BitWriter& w) { w.ue(0).se(-4).se(9).bits("01").se(6); }), 5, 1);
  EXPECT_EQ(
      std::vector<int32_t>({c->pic_order_cnt_lsb, c->dec_ref_pic_marking.long_term_reference_flag, c->slice_qp_delta}),
      std::vector<int32_t>({-1, 1, 6}));
  // A non-IDR reference slice has no IDR marking record: it stays (0, 0).
  auto p = ref.parse(slice(2, 9, [](BitWriter& w) { w.u(6, 1).u(1, 0).se(4); }), 1, 2);
  EXPECT_EQ(std::vector<int32_t>({p->idr_pic_id, p->dec_ref_pic_marking.no_output_of_prior_pics_flag,
                                  p->dec_ref_pic_marking.long_term_reference_flag, p->CurrPicNum}),
            std::vector<int32_t>({-1, 0, 0, 9}));
}

TEST(H264SliceHeader, FrameNumWidthAndEarlyEnd) {
  Reference ref;
  ref.sps.frame_mbs_only_flag = 0;
  ref.sps.log2_max_frame_num_minus4 = 1;
  // 1, 011, 0001000 and a 5-bit frame_num fill exactly two bytes: given only those, the
  // parse ends after frame_num.
  auto two = BitWriter().ue(0).ue(2).ue(7).u(5, 13).bytes();
  ASSERT_EQ(two.size(), 2u);
  auto h = ref.parse(two, 1, 2);
  EXPECT_EQ(std::vector<int32_t>({h->frame_num, h->field_pic_flag, h->bottom_field_flag, h->PicHeightInMbs}),
            std::vector<int32_t>({13, -1, -1, 0}));
  two.push_back(0xC0);
  EXPECT_EQ(ref.parse(two, 1, 2)->bottom_field_flag, 1);
  // colour_plane_id ahead of a 16-bit frame_num; a damaged 2^32-bit width is skipped at once.
  ref.sps.log2_max_frame_num_minus4 = 12;
  ref.sps.separate_colour_plane_flag = 1;
  auto wide = BitWriter().ue(5).ue(0).ue(1).u(2, 2).u(16, 0xBEEF).u(8, 0).bytes();
  auto w = ref.parse(wide, 1, 2);
  EXPECT_EQ(std::vector<int32_t>({w->first_mb_in_slice, w->pic_parameter_set_id, w->colour_plane_id, w->frame_num}),
            std::vector<int32_t>({5, 1, 2, 0xBEEF}));
  ref.sps.log2_max_frame_num_minus4 = -5;
  EXPECT_NE(ref.parse(wide, 1, 2), nullptr);
}

TEST(H264SliceHeader, FieldSlices) {
  Reference ref;
  ref.sps.frame_mbs_only_flag = 0, ref.sps.mb_adaptive_frame_field_flag = 1, ref.sps.FrameHeightInMbs = 18;
  ref.pps.pic_order_present_flag = 1;
  auto f = ref.parse(slice(0, 6, [](BitWriter& w) { w.u(1, 1).u(1, 1).u(6, 9).se(3); }), 1, 2);
  EXPECT_EQ(std::vector<int32_t>({f->field_pic_flag, f->bottom_field_flag, f->delta_pic_order_cnt_bottom,
                                  f->MbaffFrameFlag, f->PicHeightInMbs, f->MaxPicNum, f->CurrPicNum}),
            std::vector<int32_t>({1, 1, -1, 0, 9, 32, 13}));
  auto m = ref.parse(slice(0, 6, [](BitWriter& w) { w.u(1, 0).u(6, 9).se(3); }), 1, 2);
  EXPECT_EQ(std::vector<int32_t>({m->field_pic_flag, m->delta_pic_order_cnt_bottom, m->MbaffFrameFlag,
                                  m->PicHeightInMbs, m->CurrPicNum}),
            std::vector<int32_t>({0, 3, 1, 18, 6}));
}
