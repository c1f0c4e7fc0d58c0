#include <gtest/gtest.h>

#include "bitstream/H264TestSupport.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"

using h264test::BitWriter;

namespace {
// An SPS up to the VUI flag: chroma syntax only for the high profiles, a cropping window.
std::unique_ptr<SPS> sps(uint8_t profile, uint32_t chromaFormat, uint32_t planes, uint32_t log2FrameNum,
                         uint32_t frameMbsOnly) {
  BitWriter w;
  w.u(8, 0x67).u(8, profile).u(8, 0).u(8, 40).ue(0);
  if (profile == 100 || profile == 122 || profile == 244) {
    w.ue(chromaFormat);
    if (chromaFormat == 3) w.u(1, planes);
    w.ue(0).ue(0).u(1, 0).u(1, 0);
  }
  w.ue(log2FrameNum).ue(0).ue(3).ue(2).u(1, 0).ue(19).ue(14).u(1, frameMbsOnly);
  if (!frameMbsOnly) w.u(1, 1);
  w.u(1, 1).u(1, 1).ue(1).ue(2).ue(3).ue(4).u(1, 0).trailing();
  auto b = w.bytes();
  return SPS::initSPSWithBytes(b.data(), uint32_t(b.size()));
}
}  // namespace

TEST(H264ParameterSets, SpsDefaultsAndDerivedValues) {
  auto base = sps(66, 0, 0, 0, 1);
  EXPECT_EQ(base->profile_idc, 66);
  EXPECT_EQ(base->qpprime_y_zero_transform_bypass_flag, -1);  // not in a baseline SPS
  EXPECT_EQ(std::vector<int32_t>({base->chroma_format_idc, base->ChromaArrayType, base->bit_depth_luma_minus8,
                                  base->BitDepthY, base->SubWidthC, base->SubHeightC, base->MbWidthC, base->MbHeightC,
                                  base->RawMbBits}),
            std::vector<int32_t>({1, 1, 0, 8, 2, 2, 8, 8, 3072}));
  EXPECT_EQ(std::vector<int32_t>({base->MaxFrameNum, base->MaxPicOrderCntLsb, base->PicWidthInMbs,
                                  base->PicWidthInSamplesC, base->PicSizeInMapUnits, base->FrameHeightInMbs,
                                  base->mb_adaptive_frame_field_flag, base->frame_crop_bottom_offset}),
            std::vector<int32_t>({16, 128, 20, 160, 300, 15, 0, 4}));

  auto mono = sps(183, 0, 0, 0, 1);  // no chroma syntax, monochrome by definition
  EXPECT_EQ(std::vector<int32_t>(
                {mono->chroma_format_idc, mono->SubWidthC, mono->SubHeightC, mono->MbWidthC, mono->MbHeightC}),
            std::vector<int32_t>({0, -1, -1, 0, 0}));
  auto planes = sps(244, 3, 1, 0, 1);
  EXPECT_EQ(std::vector<int32_t>({planes->separate_colour_plane_flag, planes->ChromaArrayType, planes->MbWidthC}),
            std::vector<int32_t>({1, 0, 0}));
  auto full = sps(244, 3, 0, 0, 1);
  EXPECT_EQ(std::vector<int32_t>({full->ChromaArrayType, full->MbWidthC, full->MbHeightC, full->PicWidthInMbs}),
            std::vector<int32_t>({3, 16, 16, 20}));
  auto c422 = sps(122, 2, 0, 0, 1);
  EXPECT_EQ(std::vector<int32_t>({c422->SubWidthC, c422->SubHeightC, c422->MbHeightC}),
            std::vector<int32_t>({2, 1, 16}));

  EXPECT_EQ(sps(66, 0, 0, 12, 1)->MaxFrameNum, 65536);
  EXPECT_EQ(sps(66, 0, 0, 13, 1)->MaxFrameNum, 0);
  auto fields = sps(66, 0, 0, 0, 0);
  EXPECT_EQ(fields->mb_adaptive_frame_field_flag, 1);
  EXPECT_EQ(fields->FrameHeightInMbs, 30);
}

TEST(H264ParameterSets, DamagedOrMissingBytesStillGiveAnObject) {
  // A picture-order-count cycle of billions of entries ends at the buffer's end.
  auto cycle = BitWriter().u(8, 0x67).u(8, 77).u(8, 0).u(8, 31).ue(0).ue(0).ue(1).u(1, 1).se(0).se(0).ue(~1u);
  auto b = cycle.bytes();
  EXPECT_EQ(SPS::initSPSWithBytes(b.data(), uint32_t(b.size()))->pic_order_cnt_type, 1);
  auto empty = SPS::initSPSWithBytes(nullptr, 0);
  EXPECT_EQ(empty->profile_idc, 255);
  EXPECT_NE(PPS::initPPSWithBytes(nullptr, 100), nullptr);
}
