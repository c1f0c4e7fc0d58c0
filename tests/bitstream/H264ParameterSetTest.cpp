#include <gtest/gtest.h>

#include "bitstream/H264TestSupport.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"

using h264test::BitWriter;

namespace {

struct SpsOptions {
  uint8_t profile = 66;
  uint32_t chromaFormat = 1;  // written only for the high profiles
  uint32_t separatePlanes = 0;
  uint32_t log2MaxFrameNumMinus4 = 0;
  uint32_t pocType = 0;
  uint32_t frameMbsOnly = 1;
  bool cropping = false;
};

std::unique_ptr<SPS> parseSps(const SpsOptions& o) {
  BitWriter w;
  w.u(8, 0x67).u(8, o.profile).u(8, 0).u(8, 40).ue(0);
  const bool high = o.profile == 100 || o.profile == 110 || o.profile == 122 || o.profile == 244 || o.profile == 44 ||
                    o.profile == 83 || o.profile == 86 || o.profile == 118 || o.profile == 128;
  if (high) {
    w.ue(o.chromaFormat);
    if (o.chromaFormat == 3) w.u(1, o.separatePlanes);
    w.ue(0).ue(0).u(1, 0).u(1, 0);
  }
  w.ue(o.log2MaxFrameNumMinus4).ue(o.pocType);
  if (o.pocType == 0) w.ue(3);
  w.ue(2).u(1, 0).ue(19).ue(14).u(1, o.frameMbsOnly);
  if (!o.frameMbsOnly) w.u(1, 1);
  w.u(1, 1).u(1, o.cropping);
  if (o.cropping) w.ue(1).ue(2).ue(3).ue(4);
  w.u(1, 0).trailing();
  auto bytes = w.bytes();
  return SPS::initSPSWithBytes(bytes.data(), uint32_t(bytes.size()));
}

}  // namespace

TEST(H264ParameterSets, BaselineSpsFieldsAndDerivedValues) {
  SpsOptions o;
  o.cropping = true;
  auto sps = parseSps(o);
  EXPECT_EQ(sps->profile_idc, 66);
  EXPECT_EQ(sps->level_idc, 40);
  EXPECT_EQ(sps->chroma_format_idc, 1);
  EXPECT_EQ(sps->ChromaArrayType, 1);
  EXPECT_EQ(sps->separate_colour_plane_flag, 0);
  EXPECT_EQ(sps->bit_depth_luma_minus8, 0);
  EXPECT_EQ(sps->BitDepthY, 8);
  EXPECT_EQ(sps->BitDepthC, 8);
  EXPECT_EQ(sps->QpBdOffsetY, 0);
  EXPECT_EQ(sps->SubWidthC, 2);
  EXPECT_EQ(sps->SubHeightC, 2);
  EXPECT_EQ(sps->MbWidthC, 8);
  EXPECT_EQ(sps->MbHeightC, 8);
  EXPECT_EQ(sps->RawMbBits, 3072);
  EXPECT_EQ(sps->qpprime_y_zero_transform_bypass_flag, -1);  // not in a baseline SPS
  EXPECT_EQ(sps->log2_max_pic_order_cnt_lsb_minus4, 3);
  EXPECT_EQ(sps->MaxPicOrderCntLsb, 128);
  EXPECT_EQ(sps->MaxFrameNum, 16);
  EXPECT_EQ(sps->max_num_ref_frames, 2);
  EXPECT_EQ(sps->PicWidthInMbs, 20);
  EXPECT_EQ(sps->PicWidthInSamplesL, 320);
  EXPECT_EQ(sps->PicWidthInSamplesC, 160);
  EXPECT_EQ(sps->PicHeightInMapUnits, 15);
  EXPECT_EQ(sps->PicSizeInMapUnits, 300);
  EXPECT_EQ(sps->FrameHeightInMbs, 15);
  EXPECT_EQ(sps->mb_adaptive_frame_field_flag, 0);
  EXPECT_EQ(sps->frame_crop_left_offset, 1);
  EXPECT_EQ(sps->frame_crop_bottom_offset, 4);
  EXPECT_EQ(sps->vui_parameters_present_flag, 0);
}

TEST(H264ParameterSets, ChromaFormatsAndColourPlanes) {
  SpsOptions o;
  o.profile = 183;  // no chroma syntax, but monochrome by definition
  auto mono = parseSps(o);
  EXPECT_EQ(mono->chroma_format_idc, 0);
  EXPECT_EQ(mono->SubWidthC, -1);
  EXPECT_EQ(mono->SubHeightC, -1);
  EXPECT_EQ(mono->MbWidthC, 0);
  EXPECT_EQ(mono->MbHeightC, 0);
  EXPECT_EQ(mono->RawMbBits, 2048);

  o.profile = 244;
  o.chromaFormat = 3;
  o.separatePlanes = 1;
  auto planes = parseSps(o);
  EXPECT_EQ(planes->separate_colour_plane_flag, 1);
  EXPECT_EQ(planes->ChromaArrayType, 0);
  EXPECT_EQ(planes->SubWidthC, -1);
  EXPECT_EQ(planes->MbWidthC, 0);

  o.separatePlanes = 0;
  auto full = parseSps(o);
  EXPECT_EQ(full->ChromaArrayType, 3);
  EXPECT_EQ(full->MbWidthC, 16);
  EXPECT_EQ(full->MbHeightC, 16);
  EXPECT_EQ(full->PicWidthInMbs, 20);  // the syntax after the chroma fields still lines up

  o.profile = 122;
  o.chromaFormat = 2;
  auto c422 = parseSps(o);
  EXPECT_EQ(c422->SubWidthC, 2);
  EXPECT_EQ(c422->SubHeightC, 1);
  EXPECT_EQ(c422->MbHeightC, 16);
}

TEST(H264ParameterSets, FrameNumRangeAndFieldCoding) {
  SpsOptions o;
  o.log2MaxFrameNumMinus4 = 12;
  EXPECT_EQ(parseSps(o)->MaxFrameNum, 65536);
  o.log2MaxFrameNumMinus4 = 13;
  auto outOfRange = parseSps(o);
  EXPECT_EQ(outOfRange->log2_max_frame_num_minus4, 13);
  EXPECT_EQ(outOfRange->MaxFrameNum, 0);

  o.log2MaxFrameNumMinus4 = 0;
  o.frameMbsOnly = 0;
  auto fields = parseSps(o);
  EXPECT_EQ(fields->mb_adaptive_frame_field_flag, 1);
  EXPECT_EQ(fields->FrameHeightInMbs, 2 * fields->PicHeightInMapUnits);

  o.pocType = 2;  // no lsb length follows
  auto poc2 = parseSps(o);
  EXPECT_EQ(poc2->log2_max_pic_order_cnt_lsb_minus4, -1);
  EXPECT_EQ(poc2->MaxPicOrderCntLsb, 0);
  EXPECT_EQ(poc2->PicWidthInMbs, 20);
}

TEST(H264ParameterSets, ScalingListsAndOrderCountCycleAreSkipped) {
  // High profile with two scaling lists present (one of them ending early through a zero next
  // scale), then a pic_order_cnt_type 1 cycle of three frames.
  BitWriter w;
  w.u(8, 0x67).u(8, 100).u(8, 0).u(8, 31).ue(2).ue(1).ue(0).ue(0).u(1, 0).u(1, 1);
  w.u(1, 1);
  for (int j = 0; j < 16; ++j) w.se(j % 2 ? -3 : 5);
  w.u(1, 0).u(1, 0).u(1, 0).u(1, 0).u(1, 0);
  w.u(1, 1).se(-8);  // first delta makes next scale 0: the 8x8 list uses its default
  w.u(1, 0);
  w.ue(5).ue(1).u(1, 0).se(-7).se(3).ue(3).se(1).se(-2).se(100);
  w.ue(4).u(1, 1).ue(79).ue(44).u(1, 1).u(1, 1).u(1, 0).u(1, 1).trailing();
  auto bytes = w.bytes();
  auto sps = SPS::initSPSWithBytes(bytes.data(), uint32_t(bytes.size()));
  EXPECT_EQ(sps->seq_parameter_set_id, 2);
  EXPECT_EQ(sps->seq_scaling_matrix_present_flag, 1);
  EXPECT_EQ(sps->log2_max_frame_num_minus4, 5);
  EXPECT_EQ(sps->pic_order_cnt_type, 1);
  EXPECT_EQ(sps->delta_pic_order_always_zero_flag, 0);
  EXPECT_EQ(sps->log2_max_pic_order_cnt_lsb_minus4, -1);
  EXPECT_EQ(sps->max_num_ref_frames, 4);
  EXPECT_EQ(sps->gaps_in_frame_num_value_allowed_flag, 1);
  EXPECT_EQ(sps->PicWidthInMbs, 80);
  EXPECT_EQ(sps->PicHeightInMapUnits, 45);
  EXPECT_EQ(sps->vui_parameters_present_flag, 1);
}

TEST(H264ParameterSets, DamagedSetsStillYieldAnObject) {
  // A cycle count of billions and a width that overflows 32 bits: bounded time, wrapped values.
  BitWriter w;
  w.u(8, 0x67).u(8, 77).u(8, 0).u(8, 31).ue(0).ue(0).ue(1).u(1, 1).se(0).se(0).ue(0xFFFFFFF0u);
  auto bytes = w.bytes();
  auto sps = SPS::initSPSWithBytes(bytes.data(), uint32_t(bytes.size()));
  ASSERT_NE(sps, nullptr);
  EXPECT_EQ(sps->pic_order_cnt_type, 1);

  auto empty = SPS::initSPSWithBytes(nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty->profile_idc, 255);
  EXPECT_EQ(empty->level_idc, 255);
  auto emptyPps = PPS::initPPSWithBytes(nullptr, 100);
  ASSERT_NE(emptyPps, nullptr);
}

TEST(H264ParameterSets, PpsFieldsAndSliceGroups) {
  BitWriter w;
  w.u(8, 0x68).ue(3).ue(1).u(1, 1).u(1, 1).ue(0).ue(2).ue(1).u(1, 1).bits("10").se(-4).se(2).se(-12);
  w.u(1, 1).u(1, 0).u(1, 1).trailing();
  auto bytes = w.bytes();
  auto pps = PPS::initPPSWithBytes(bytes.data(), uint32_t(bytes.size()));
  EXPECT_EQ(pps->pic_parameter_set_id, 3);
  EXPECT_EQ(pps->seq_parameter_set_id, 1);
  EXPECT_EQ(pps->entropy_coding_mode_flag, 1);
  EXPECT_EQ(pps->pic_order_present_flag, 1);
  EXPECT_EQ(pps->num_ref_idx_l0_active_minus1, 2);
  EXPECT_EQ(pps->num_ref_idx_l1_active_minus1, 1);
  EXPECT_EQ(pps->weighted_pred_flag, 1);
  EXPECT_EQ(pps->weighted_bipred_idc, 2);  // bits 1 then 0
  EXPECT_EQ(pps->pic_init_qp_minus26, -4);
  EXPECT_EQ(pps->pic_init_qs_minus26, 2);
  EXPECT_EQ(pps->chroma_qp_index_offset, -12);
  EXPECT_EQ(pps->deblocking_filter_control_present_flag, 1);
  EXPECT_EQ(pps->constrained_intra_pred_flag, 0);
  EXPECT_EQ(pps->redundant_pic_cnt_present_flag, 1);

  // Every slice group map type, followed by the same tail.
  auto withGroups = [](uint32_t groupsMinus1, uint32_t mapType) {
    BitWriter g;
    g.u(8, 0x68).ue(0).ue(0).u(1, 0).u(1, 0).ue(groupsMinus1).ue(mapType);
    if (mapType == 0) {
      for (uint32_t i = 0; i <= groupsMinus1; ++i) g.ue(10 + i);
    } else if (mapType == 2) {
      for (uint32_t i = 0; i < groupsMinus1; ++i) g.ue(i).ue(50 + i);
    } else if (mapType >= 3 && mapType <= 5) {
      g.u(1, 1).ue(7);
    } else if (mapType == 6) {
      g.ue(98);  // 99 map units, each a 2-bit group id for 3 or 4 groups
      for (int i = 0; i < 99; ++i) g.u(2, i % 3);
    }
    g.ue(4).ue(0).u(1, 0).u(2, 1).se(5).se(0).se(2).u(1, 1).u(1, 1).u(1, 0).trailing();
    auto b = g.bytes();
    return PPS::initPPSWithBytes(b.data(), uint32_t(b.size()));
  };
  for (uint32_t mapType = 0; mapType <= 6; ++mapType) {
    auto p = withGroups(2, mapType);
    EXPECT_EQ(p->num_slice_groups_minus1, 2) << mapType;
    EXPECT_EQ(p->num_ref_idx_l0_active_minus1, 4) << mapType;
    EXPECT_EQ(p->weighted_bipred_idc, 1) << mapType;
    EXPECT_EQ(p->pic_init_qp_minus26, 5) << mapType;
    EXPECT_EQ(p->constrained_intra_pred_flag, 1) << mapType;
  }
}
