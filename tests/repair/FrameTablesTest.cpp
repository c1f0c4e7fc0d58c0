#include <gtest/gtest.h>

#include "repair/FrameTables.h"

using qvr::deriveFrameTables;
using qvr::PictureInfo;

namespace {
PictureInfo picture(int32_t pocLsb, bool reference, bool idr = false) {
  PictureInfo p;
  p.isPicture = true;
  p.isSync = p.resetsOrder = p.isIntra = idr;
  p.isReference = reference;
  p.isDisposable = !reference;
  p.pocLsb = pocLsb;
  return p;
}
}  // namespace

// Decoding order I0 P8 B4 b2 b6 (order counts doubled, as x264 writes them): the offsets put
// every picture at its display slot and the edit skips the decoding delay.
TEST(FrameTables, BFramePyramidGetsDisplayOrderOffsets) {
  std::vector<PictureInfo> pics = {picture(0, true, true), picture(8, true), picture(4, true), picture(2, false),
                                   picture(6, false)};
  auto t = deriveFrameTables(pics, 256, 512);
  ASSERT_TRUE(t.compositionOffsets);
  // ranks 0 4 2 1 3, delay 2
  EXPECT_EQ(*t.compositionOffsets, (std::vector<uint32_t>{1024, 2560, 1024, 0, 512}));
  EXPECT_EQ(t.editMediaTime, 1024u);
  EXPECT_EQ(t.syncSamples, std::vector<uint32_t>{1});
  // Dependency bytes mark the intra picture and the disposable ones.
  EXPECT_EQ(t.sdtp, (std::vector<uint8_t>{0x24, 0x14, 0x14, 0x18, 0x18}));
}

TEST(FrameTables, DisplayOrderRestartsAtEveryIdrAndFollowsLsbWrap) {
  // Max lsb 16: after 12 comes 2 (wrapped, so 18), then a new IDR restarts the order at 0. A
  // jump of more than half the range backwards is an earlier picture: 14 after 0 is -2.
  std::vector<PictureInfo> pics = {picture(0, true, true), picture(6, true), picture(12, true), picture(2, true),
                                   picture(0, true, true), picture(4, true), picture(14, false)};
  auto t = deriveFrameTables(pics, 16, 1);
  ASSERT_TRUE(t.compositionOffsets);
  // ranks 0 1 2 3 | 5 6 4: the picture with order -2 is shown first after the second IDR
  EXPECT_EQ(*t.compositionOffsets, (std::vector<uint32_t>{2, 2, 2, 2, 3, 3, 0}));
  EXPECT_EQ(t.editMediaTime, 2u);
  EXPECT_EQ(t.syncSamples, (std::vector<uint32_t>{1, 5}));
}

TEST(FrameTables, UnknownOrderLeavesOffsetsToTheReference) {
  std::vector<PictureInfo> pics = {picture(0, true, true), picture(4, true)};
  pics[1].pocLsb.reset();
  EXPECT_FALSE(deriveFrameTables(pics, 256, 1).compositionOffsets);
  // No order-count field in the stream at all (pic_order_cnt_type other than 0).
  EXPECT_FALSE(deriveFrameTables({picture(0, true, true)}, 0, 1).compositionOffsets);
  // Sync samples and dependency bytes do not need the order.
  EXPECT_EQ(deriveFrameTables(pics, 256, 1).sdtp.size(), 2u);
}

TEST(FrameTables, ParameterSetSampleIsShownWithThePictureAfterIt) {
  PictureInfo sps;  // a sequence parameter set counted as a sample of its own
  std::vector<PictureInfo> pics = {picture(0, true, true), sps, picture(4, true), picture(2, false)};
  auto t = deriveFrameTables(pics, 256, 10);
  ASSERT_TRUE(t.compositionOffsets);
  // display order: I, b(2), sps, P(4) -> ranks 0 2 3 1; delay 2
  EXPECT_EQ(*t.compositionOffsets, (std::vector<uint32_t>{20, 30, 30, 0}));
}
