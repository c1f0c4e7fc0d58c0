#include <gtest/gtest.h>

#include <vector>

#include "bitstream/H265TestSupport.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/UeSeNumCode.h"
#include "bitstream/VPS_265.h"

using h265test::BitWriter;

namespace {

std::unique_ptr<SPS_265> parseSps(const std::vector<uint8_t>& bytes, uint32_t width = 1920, uint32_t height = 1080) {
  return SPS_265::initSPS265WithBytes(bytes.data(), uint32_t(bytes.size()), width, height);
}

TEST(Sps265, PictureSizeMustMatchAndSurvivesADamagedProfileStructure) {
  std::vector<uint8_t> bytes = h265test::buildSps({});
  auto sps = parseSps(bytes);
  ASSERT_TRUE(sps);
  EXPECT_EQ(std::vector<int32_t>({sps->pic_width_in_luma_samples, sps->pic_height_luma_samples, sps->PicWidthInCtbsY,
                                  sps->PicHeightInCtbsY, sps->picSizeInCtbsY}),
            std::vector<int32_t>({1920, 1080, 30, 17, 510}));
  EXPECT_FALSE(parseSps(bytes, 960, 540)) << "1920 / 960 is 2";
  EXPECT_FALSE(parseSps(bytes, 1921, 1080)) << "1920 / 1921 is 0";
  // A coded height rounded up to whole blocks still matches the displayed one.
  EXPECT_TRUE(parseSps(h265test::buildSps({.height = 1088})));

  // Corrupting max_sub_layers_minus1 makes profile_tier_level() claim sub-layer bytes that are not
  // there; the byte-wise search still finds the identifiers and the size.
  bytes[2] |= 0x0e;
  sps = parseSps(bytes);
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->pic_width_in_luma_samples, 1920);
  EXPECT_EQ(sps->seq_parameter_set_id, 0);
}

TEST(Sps265, LongTermPictureCountIsLimitedTo32AndTheirFlagsAreKept) {
  h265test::SpsFields f{.longTermPresent = true, .numLongTermRefPicsSps = 32, .longTermUsedMask = 0x5};
  auto sps = parseSps(h265test::buildSps(f));
  ASSERT_TRUE(sps);
  ASSERT_EQ(sps->used_by_curr_pic_lt_sps_flag.size(), 32u);
  EXPECT_EQ(std::vector<int64_t>({sps->num_long_term_ref_pics_sps, sps->used_by_curr_pic_lt_sps_flag[2],
                                  sps->lt_ref_pic_poc_lsb_sps[31], sps->sps_temporal_mvp_enabled_flag}),
            std::vector<int64_t>({32, 1, 31, 1}))
      << "fields after the list are in place";
  f.numLongTermRefPicsSps = 33;
  EXPECT_FALSE(parseSps(h265test::buildSps(f)));
}

// Three sets: explicit, predicted from it, and one with a picture count beyond any buffer.
void writeSets(BitWriter& w) {
  // Set 0: S0 = {-1, -3} both used, S1 = {+2} not used.
  w.ue(2).ue(1).ue(0).u(1, 1).ue(1).u(1, 1).ue(1).u(1, 0);
  // Set 1 predicted from set 0 with deltaRps -1: used flags for -1-1, -3-1, 2-1 and the
  // reference picture itself (-1); the second is kept but unused.
  w.u(1, 1).u(1, 1).ue(0);
  w.u(1, 1).u(1, 0).u(1, 1).u(1, 1).u(1, 1);
}

TEST(Sps265, ShortTermSetsAreDerivedAsTheStandardDoesAndTheFieldsAfterThemLineUp) {
  h265test::SpsFields f{.temporalMvp = false,
                        .numShortTermSets = 2,
                        .writeShortTermSets = writeSets,
                        .longTermPresent = true,
                        .numLongTermRefPicsSps = 2,
                        .vuiWithTiming = true};
  auto sps = parseSps(h265test::buildSps(f));
  ASSERT_TRUE(sps);
  ASSERT_EQ(sps->shortTermRefPicSets.size(), 2u);
  const auto& s0 = sps->shortTermRefPicSets[0];
  EXPECT_EQ(std::vector<int32_t>({s0.NumNegativePics, s0.DeltaPocS0[1], s0.DeltaPocS1[0], s0.numUsedByCurrPic()}),
            std::vector<int32_t>({2, -3, 2, 2}));
  const auto& s1 = sps->shortTermRefPicSets[1];
  ASSERT_EQ(s1.NumNegativePics, 3);
  ASSERT_EQ(s1.NumPositivePics, 1);
  EXPECT_EQ(std::vector<int32_t>({s1.DeltaPocS0[0], s1.DeltaPocS0[1], s1.DeltaPocS0[2], s1.UsedByCurrPicS0[2],
                                  s1.DeltaPocS1[0], s1.numUsedByCurrPic()}),
            std::vector<int32_t>({-1, -2, -4, 0, 1, 3}));
  // The extension flag is read after the VUI.
  EXPECT_EQ(std::vector<int32_t>({sps->num_long_term_ref_pics_sps, sps->sps_temporal_mvp_enabled_flag,
                                  sps->vui_parameters_present_flag, sps->sps_extension_present_flag}),
            std::vector<int32_t>({2, 0, 1, 0}));

  f.numShortTermSets = 1;
  f.writeShortTermSets = [](BitWriter& w) { w.ue(17).ue(0); };  // 17 pictures: more than a DPB holds
  EXPECT_FALSE(parseSps(h265test::buildSps(f)));
  f.numShortTermSets = 65;
  f.writeShortTermSets = nullptr;
  EXPECT_FALSE(parseSps(h265test::buildSps(f)));

  // A window ending inside the sets keeps what was read; the refusing long-term count of 33 lies
  // beyond it.
  f.numShortTermSets = 2;
  f.writeShortTermSets = writeSets;
  f.numLongTermRefPicsSps = 33;
  const std::vector<uint8_t> bytes = h265test::buildSps(f);
  EXPECT_FALSE(parseSps(bytes));
  auto cut = SPS_265::initSPS265WithBytes(bytes.data(), 32, 1920, 1080);  // ends inside the second set
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->shortTermRefPicSets.size(), 1u);
  EXPECT_EQ(std::vector<int32_t>(
                {cut->pic_width_in_luma_samples, cut->PicWidthInCtbsY, cut->long_term_ref_pics_present_flag}),
            std::vector<int32_t>({1920, 30, -1}));
}

TEST(ProfileTierLevel265, SubLayerProfilesAndLevelsAreSteppedOverAsFlagged) {
  BitWriter w;
  h265test::writeProfileTierLevel(w);                 // 96 bits
  w.u(1, 1).u(1, 0).u(1, 0).u(1, 1).u(1, 1).u(1, 1);  // three sub-layers' present flags
  w.u(10, 0);                                         // reserved_zero_2bits for the other five
  w.u(44, 0x123).u(44, 0x456);                        // sub-layer 0 profile
  w.u(8, 30);                                         // sub-layer 1 level
  w.u(44, 0x789).u(44, 0xabc).u(8, 60);               // sub-layer 2 profile and level
  w.ue(5);
  const std::vector<uint8_t> bytes = w.bytes();
  uint32_t bytePos = 0, bitPos = 0;
  UeSeNumCode::profile_tier_level(1, 3, bytes, bytePos, bitPos);
  EXPECT_EQ(bytePos * 8 + bitPos, 304u);
  EXPECT_EQ(UeSeNumCode::getUEVCodeNumFromBytes(bytes, bytePos, bitPos), 5u);
}

TEST(Vps265, LayerSetsUpTo1023AndReadingResumesAfterTheLastEscapePattern) {
  const std::vector<uint8_t> ok = h265test::buildVps(1023);
  auto vps = VPS_265::initVPS265WithBytes(ok.data(), uint32_t(ok.size()));
  ASSERT_TRUE(vps);
  EXPECT_EQ(std::vector<int32_t>({vps->num_layer_sets_minus1, vps->max_dec_pic_buffering_minus1.at(0),
                                  vps->max_latency_increase_plus1.at(0)}),
            std::vector<int32_t>({1023, 4, 5}));
  const std::vector<uint8_t> bad = h265test::buildVps(1024);
  EXPECT_FALSE(VPS_265::initVPS265WithBytes(bad.data(), uint32_t(bad.size())));

  // Header, then id/flags/counts and 0xffff, then stand-in bytes holding 00 03 00 twice.
  std::vector<uint8_t> bytes{0x40, 0x01, 0x0c, 0x01, 0xff, 0xff, 0x00, 0x03, 0x00, 0x77, 0x00, 0x00, 0x03, 0x00, 0x5d};
  for (uint8_t b : BitWriter().u(1, 1).ue(6).ue(1).ue(0).u(6, 0).ue(3).u(1, 0).u(1, 0).trailing().bytes()) {
    bytes.push_back(b);
  }
  vps = VPS_265::initVPS265WithBytes(bytes.data(), uint32_t(bytes.size()));
  ASSERT_TRUE(vps);
  EXPECT_EQ(std::vector<int32_t>(
                {vps->max_dec_pic_buffering_minus1.at(0), vps->max_num_reorder_pics.at(0), vps->num_layer_sets_minus1}),
            std::vector<int32_t>({6, 1, 3}));
}

TEST(Pps265, TileColumnsAreCheckedOnlyForExplicitSpacing) {
  auto sps = parseSps(h265test::buildSps({}));  // 30 x 17 coding tree blocks
  ASSERT_TRUE(sps);
  auto pps = [&](const h265test::PpsFields& f) {
    const std::vector<uint8_t> bytes = h265test::buildPps(f);
    return PPS_265::initPPS265WithBytes(bytes.data(), uint32_t(bytes.size()), sps.get());
  };
  auto uniform = pps({.tiles = true, .tileColumnsMinus1 = 40, .tileRowsMinus1 = 40});
  ASSERT_TRUE(uniform);
  EXPECT_EQ(uniform->num_tile_columns_minus1, 40);
  EXPECT_FALSE(pps({.tiles = true, .tileColumnsMinus1 = 30, .tileRowsMinus1 = 1, .uniformSpacing = false}));
  auto explicitTiles = pps(
      {.tiles = true, .tileColumnsMinus1 = 29, .tileRowsMinus1 = 1, .uniformSpacing = false, .headerExtension = true});
  ASSERT_TRUE(explicitTiles);
  EXPECT_EQ(explicitTiles->column_width_minus1.size(), 29u);
  EXPECT_EQ(explicitTiles->slice_segment_header_extension_present_flag, 1) << "fields after the widths line up";
}

}  // namespace
