#include <gtest/gtest.h>

#include <functional>

#include "bitstream/H264TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

using h264test::BitWriter;

namespace {

// Reference sets given field by field, as the slice header only reads their numbers.
struct Reference {
  SPS sps;
  PPS pps;
  Reference() {
    sps.separate_colour_plane_flag = 0;
    sps.log2_max_frame_num_minus4 = 0;
    sps.MaxFrameNum = 16;
    sps.frame_mbs_only_flag = 1;
    sps.mb_adaptive_frame_field_flag = 0;
    sps.pic_order_cnt_type = 0;
    sps.log2_max_pic_order_cnt_lsb_minus4 = 2;
    sps.PicWidthInMbs = 20;
    sps.FrameHeightInMbs = 16;
    sps.MbHeightC = 8;
    sps.ChromaArrayType = 1;
    pps.pic_order_present_flag = 0;
    pps.entropy_coding_mode_flag = 0;
    pps.num_ref_idx_l0_active_minus1 = 0;
    pps.num_ref_idx_l1_active_minus1 = 0;
    pps.weighted_pred_flag = 0;
    pps.weighted_bipred_idc = 0;
    pps.redundant_pic_cnt_present_flag = 0;
  }
};

NALU header(uint32_t type, uint32_t nri) {
  NALU n;
  n.NALType = type;
  n.NRI = nri;
  return n;
}

std::unique_ptr<SliceHeader> parse(const std::vector<uint8_t>& bytes, uint32_t type, uint32_t nri,
                                   const Reference& ref) {
  NALU n = header(type, nri);
  return SliceHeader::initIDRWithBytes(bytes.data(), uint32_t(bytes.size()), &n, &ref.sps, &ref.pps);
}

// first_mb_in_slice, slice_type, pic_parameter_set_id, frame_num (4 bits), then `rest`.
std::vector<uint8_t> slice(uint32_t sliceType, uint32_t frameNum, const std::function<void(BitWriter&)>& rest = {}) {
  BitWriter w;
  w.ue(0).ue(sliceType).ue(0).u(4, frameNum);
  if (rest) rest(w);
  w.trailing();
  auto b = w.bytes();
  b.resize(46, 0);  // what a 50-byte window leaves after a 4-byte prefix and the header byte
  return b;
}

}  // namespace

TEST(H264SliceHeader, SliceTypeRules) {
  Reference ref;
  for (uint32_t t : {0u, 5u, 1u, 6u, 3u, 8u}) EXPECT_EQ(parse(slice(t, 0), 5, 3, ref), nullptr) << t;
  for (uint32_t t : {2u, 7u, 4u, 9u}) EXPECT_NE(parse(slice(t, 0), 5, 3, ref), nullptr) << t;
  for (uint32_t t = 0; t <= 9; ++t) EXPECT_NE(parse(slice(t, 0), 1, 2, ref), nullptr) << t;
  for (uint32_t t : {10u, 11u, 1000u, 0x7FFFFFFFu, 0x80000000u}) {
    EXPECT_EQ(parse(slice(t, 0), 1, 2, ref), nullptr) << t;
    EXPECT_EQ(parse(slice(t, 0), 5, 2, ref), nullptr) << t;
  }
  // Only slice NAL units, and only with their reference sets.
  auto bytes = slice(2, 0);
  NALU sei = header(6, 0);
  EXPECT_EQ(SliceHeader::initIDRWithBytes(bytes.data(), 46, &sei, &ref.sps, &ref.pps), nullptr);
  EXPECT_EQ(SliceHeader::initIDRWithBytes(bytes.data(), 46, nullptr, &ref.sps, &ref.pps), nullptr);
  NALU idr = header(5, 3);
  EXPECT_EQ(SliceHeader::initIDRWithBytes(bytes.data(), 46, &idr, nullptr, &ref.pps), nullptr);
}

TEST(H264SliceHeader, IdrFieldsDerivedValuesAndMarking) {
  Reference ref;
  ref.pps.pic_order_present_flag = 1;
  auto h = parse(slice(7, 0,
                       [](BitWriter& w) {
                         w.ue(3);       // idr_pic_id
                         w.u(6, 42);    // pic_order_cnt_lsb
                         w.se(-1);      // delta_pic_order_cnt_bottom
                         w.bits("10");  // no_output_of_prior_pics_flag, long_term_reference_flag
                         w.se(-12);     // slice_qp_delta
                       }),
                 5, 3, ref);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->slice_type, 7);
  EXPECT_EQ(h->idr_pic_id, 3);
  EXPECT_EQ(h->pic_order_cnt_lsb, 42);
  EXPECT_EQ(h->delta_pic_order_cnt_bottom, -1);
  EXPECT_EQ(h->dec_ref_pic_marking.no_output_of_prior_pics_flag, 1);
  EXPECT_EQ(h->dec_ref_pic_marking.long_term_reference_flag, 0);
  EXPECT_EQ(h->slice_qp_delta, -12);
  EXPECT_EQ(h->field_pic_flag, 0);
  EXPECT_EQ(h->bottom_field_flag, 0);
  EXPECT_EQ(h->PicHeightInMbs, 16);
  EXPECT_EQ(h->PicHeightInSamplesL, 256);
  EXPECT_EQ(h->PicHeightInSamplesC, 128);
  EXPECT_EQ(h->PicSizeInMbs, 320);
  EXPECT_EQ(h->MaxPicNum, 16);
  EXPECT_EQ(h->CurrPicNum, 0);
  EXPECT_EQ(h->totalBytesGiven, 46u);

  // A non-IDR reference slice has no IDR marking record: it stays (0, 0).
  auto p = parse(slice(2, 9, [](BitWriter& w) { w.u(6, 1).u(1, 0).se(4); }), 1, 2, ref);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->idr_pic_id, -1);
  EXPECT_EQ(p->dec_ref_pic_marking.no_output_of_prior_pics_flag, 0);
  EXPECT_EQ(p->dec_ref_pic_marking.long_term_reference_flag, 0);
  EXPECT_EQ(p->CurrPicNum, 9);
}

TEST(H264SliceHeader, FrameNumWidthAndEarlyEnd) {
  Reference ref;
  // 1 (first_mb 0), 011 (I), 0001000 (pps 7) and a 5-bit frame_num fill exactly two bytes.
  // Given only those two bytes the parse ends after frame_num.
  Reference fields;
  fields.sps.frame_mbs_only_flag = 0;
  fields.sps.log2_max_frame_num_minus4 = 1;
  auto w = BitWriter().ue(0).ue(2).ue(7).u(5, 13).bytes();
  ASSERT_EQ(w.size(), 2u);
  auto h = parse(w, 1, 2, fields);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->frame_num, 13);
  EXPECT_EQ(h->field_pic_flag, -1);
  EXPECT_EQ(h->bottom_field_flag, -1);
  EXPECT_EQ(h->PicHeightInMbs, 0);
  EXPECT_EQ(h->MaxPicNum, 0);
  EXPECT_EQ(h->slice_qp_delta, -1);
  // One more byte and the field flags are read.
  w.push_back(0xC0);
  auto more = parse(w, 1, 2, fields);
  ASSERT_NE(more, nullptr);
  EXPECT_EQ(more->field_pic_flag, 1);
  EXPECT_EQ(more->bottom_field_flag, 1);

  // A longer frame_num, and colour_plane_id before it when planes are coded separately.
  ref.sps.log2_max_frame_num_minus4 = 12;
  ref.sps.separate_colour_plane_flag = 1;
  auto wide = BitWriter().ue(5).ue(0).ue(1).u(2, 2).u(16, 0xBEEF).u(8, 0).bytes();
  auto h2 = parse(wide, 1, 2, ref);
  ASSERT_NE(h2, nullptr);
  EXPECT_EQ(h2->first_mb_in_slice, 5);
  EXPECT_EQ(h2->pic_parameter_set_id, 1);
  EXPECT_EQ(h2->colour_plane_id, 2);
  EXPECT_EQ(h2->frame_num, 0xBEEF);

  // A damaged reference asking for a 2^32-bit frame_num is skipped, not looped over.
  ref.sps.log2_max_frame_num_minus4 = -5;
  EXPECT_NE(parse(wide, 1, 2, ref), nullptr);
}

TEST(H264SliceHeader, FieldSlices) {
  Reference ref;
  ref.sps.frame_mbs_only_flag = 0;
  ref.sps.mb_adaptive_frame_field_flag = 1;
  ref.sps.FrameHeightInMbs = 18;
  ref.pps.pic_order_present_flag = 1;
  auto bottom = parse(slice(0, 6, [](BitWriter& w) { w.u(1, 1).u(1, 1).u(6, 9).se(3); }), 1, 2, ref);
  ASSERT_NE(bottom, nullptr);
  EXPECT_EQ(bottom->field_pic_flag, 1);
  EXPECT_EQ(bottom->bottom_field_flag, 1);
  EXPECT_EQ(bottom->pic_order_cnt_lsb, 9);
  EXPECT_EQ(bottom->delta_pic_order_cnt_bottom, -1);  // absent in a field slice
  EXPECT_EQ(bottom->MbaffFrameFlag, 0);
  EXPECT_EQ(bottom->PicHeightInMbs, 9);
  EXPECT_EQ(bottom->MaxPicNum, 32);
  EXPECT_EQ(bottom->CurrPicNum, 13);

  auto frame = parse(slice(0, 6, [](BitWriter& w) { w.u(1, 0).u(6, 9).se(3); }), 1, 2, ref);
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->field_pic_flag, 0);
  EXPECT_EQ(frame->bottom_field_flag, 0);
  EXPECT_EQ(frame->delta_pic_order_cnt_bottom, 3);
  EXPECT_EQ(frame->MbaffFrameFlag, 1);
  EXPECT_EQ(frame->PicHeightInMbs, 18);
  EXPECT_EQ(frame->CurrPicNum, 6);
}

TEST(H264SliceHeader, SyntaxBeforeQpDeltaInPredictedSlices) {
  Reference ref;
  ref.pps.entropy_coding_mode_flag = 1;
  ref.pps.weighted_pred_flag = 1;
  ref.pps.weighted_bipred_idc = 1;
  ref.pps.num_ref_idx_l0_active_minus1 = 1;
  ref.pps.redundant_pic_cnt_present_flag = 1;
  // P slice: lsb, redundant_pic_cnt, override to 1 ref, one list modification, weights for
  // the one ref, adaptive marking with two operations, cabac_init_idc, then slice_qp_delta.
  auto p = parse(slice(5, 3,
                       [](BitWriter& w) {
                         w.u(6, 5).ue(1);
                         w.u(1, 1).ue(0);
                         w.u(1, 1).ue(0).ue(2).ue(3);
                         w.ue(5).ue(4).u(1, 1).se(60).se(-2).u(1, 1).se(1).se(2).se(3).se(4);
                         w.u(1, 1).ue(1).ue(0).ue(3).ue(1).ue(2).ue(0);
                         w.ue(2).se(7);
                       }),
                 1, 2, ref);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->slice_qp_delta, 7);

  // B slice: direct flag, defaults from the PPS (2 refs in list 0, 1 in list 1), both lists
  // modified, implicit weights not read (bipred 1 reads a table), non-reference (no marking).
  auto b = parse(slice(1, 3,
                       [](BitWriter& w) {
                         w.u(6, 5).ue(0);
                         w.u(1, 1);
                         w.u(1, 0);
                         w.u(1, 1).ue(1).ue(0).ue(3).u(1, 1).ue(2).ue(4).ue(3);
                         w.ue(0).ue(0);
                         for (int i = 0; i < 2; ++i) w.u(1, 0).u(1, 0);
                         w.u(1, 1).se(-5).se(5).u(1, 0);
                         w.ue(1).se(-9);
                       }),
                 1, 0, ref);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->slice_qp_delta, -9);
}
