#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "bitstream/H265TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader_265.h"

using h265test::BitWriter;

namespace {

constexpr uint32_t kTrailR = 1, kIdrWRadl = 19, kCra = 21;  // unit types
constexpr uint32_t kSliceP = 1, kSliceI = 2;

class SliceHeader265 : public ::testing::Test {
 protected:
  void useSps(const h265test::SpsFields& f, uint32_t width = 1920, uint32_t height = 1080) {
    const std::vector<uint8_t> bytes = h265test::buildSps(f);
    sps = SPS_265::initSPS265WithBytes(bytes.data(), uint32_t(bytes.size()), width, height);
    ASSERT_TRUE(sps);
  }
  void usePps(const h265test::PpsFields& f) {
    const std::vector<uint8_t> bytes = h265test::buildPps(f);
    pps = PPS_265::initPPS265WithBytes(bytes.data(), uint32_t(bytes.size()), sps.get());
    ASSERT_TRUE(pps);
  }
  void SetUp() override {
    useSps({});
    usePps({});
  }

  // The header bits followed by a few bytes of slice data, as a whole unit or as a window of
  // `windowBytes` stored bytes.
  std::unique_ptr<SliceHeader_265> parse(uint32_t type, const BitWriter& header, bool wholeUnit = true,
                                         size_t windowBytes = 0) {
    BitWriter w = header;
    w.u(1, 1);  // alignment_bit_equal_to_one, then zeros and the slice data
    std::vector<uint8_t> bytes = h265test::escape(w.bytes());
    bytes.insert(bytes.end(), {0xa5, 0x5a, 0xc3});
    if (windowBytes) bytes.resize(windowBytes);
    nalu.NALType = type;
    return SliceHeader_265::initSLiceHeader265WithBytes(bytes.data(), uint32_t(bytes.size()), &nalu, sps.get(),
                                                        pps.get(), nullptr, wholeUnit);
  }

  // first_slice_segment_in_pic_flag .. slice_type of an independent first slice segment.
  static BitWriter begin(uint32_t type, uint32_t sliceType, uint32_t ppsId = 0) {
    BitWriter w;
    w.u(1, 1);
    if (type >= 16 && type <= 23) w.u(1, 1);
    w.ue(ppsId).ue(sliceType);
    return w;
  }
  // The I-slice tail of the default sets: SAO flags, qp delta, loop filter flag.
  static void endIntra(BitWriter& w, int32_t qpDelta = -3) { w.u(1, 1).u(1, 1).se(qpDelta).u(1, 1); }

  std::unique_ptr<SPS_265> sps;
  std::unique_ptr<PPS_265> pps;
  NALU nalu;
};

TEST_F(SliceHeader265, ParameterSetIdPictureOrderCountAndAddress) {
  BitWriter bad = begin(kIdrWRadl, kSliceI, 64);
  endIntra(bad);
  EXPECT_FALSE(parse(kIdrWRadl, bad));

  BitWriter idr = begin(kIdrWRadl, kSliceI, 63);
  endIntra(idr);
  BitWriter cra = begin(kCra, kSliceI);
  cra.u(8, 77).u(1, 0).ue(0).ue(0).u(1, 0);  // POC, explicit empty set, no temporal MVP
  endIntra(cra, 4);
  BitWriter later;
  later.u(1, 0).u(1, 0).ue(0).u(9, 300).ue(kSliceI);  // 510 blocks: 9 address bits
  endIntra(later, 2);
  BitWriter tiny;  // one coding tree block per picture: the address takes no bits
  tiny.u(1, 0).u(1, 0).ue(0).ue(kSliceI);
  endIntra(tiny, 1);
  // type, header; no_output_of_prior_pics_flag, POC lsb (none for IDR), address (none for a first
  // segment), qp delta
  const struct {
    uint32_t type;
    BitWriter header;
    std::vector<int32_t> expected;
  } cases[] = {{kIdrWRadl, idr, {1, -1, -1, -3}},
               {kCra, cra, {1, 77, -1, 4}},
               {kIdrWRadl, later, {0, -1, 300, 2}},
               {kIdrWRadl, tiny, {0, -1, 0, 1}}};
  for (const auto& c : cases) {
    if (&c == &cases[3]) useSps({.width = 64, .height = 64}, 64, 64);
    auto h = parse(c.type, c.header);
    ASSERT_TRUE(h) << &c - cases;
    EXPECT_EQ(std::vector<int32_t>(
                  {h->no_output_of_prior_pics_flag, h->pic_order_cnt_lsb, h->slice_segment_address, h->qp_delta}),
              c.expected)
        << &c - cases;
  }
}

TEST_F(SliceHeader265, LongTermCountsAgainstTheSequenceParameterSet) {
  useSps({.longTermPresent = true, .numLongTermRefPicsSps = 2});
  auto slice = [](uint32_t ltSps, uint32_t ltPics) {
    BitWriter w = begin(kTrailR, kSliceI);
    w.u(8, 5).u(1, 0).ue(0).ue(0);  // POC, explicit empty set
    w.ue(ltSps).ue(ltPics);
    for (uint32_t i = 0; i < ltSps + ltPics; ++i) {
      if (i < ltSps)
        w.u(1, i & 1);
      else
        w.u(8, 3).u(1, 1);
      w.u(1, 0);  // delta_poc_msb_present_flag
    }
    w.u(1, 1);  // slice_temporal_mvp_enabled_flag
    endIntra(w, 6);
    return w;
  };
  auto header = parse(kTrailR, slice(2, 0));
  ASSERT_TRUE(header);
  EXPECT_EQ(std::vector<int32_t>({header->num_long_term_sps, header->temporal_mvp_enabled_flag, header->qp_delta}),
            std::vector<int32_t>({2, 1, 6}));
  EXPECT_FALSE(parse(kTrailR, slice(3, 0)));

  // Without long-term pictures in the SPS the count of SPS entries is absent and counts as 0.
  useSps({.longTermPresent = true});
  BitWriter w = begin(kTrailR, kSliceI);
  w.u(8, 5).u(1, 0).ue(0).ue(0).ue(1).u(8, 3).u(1, 1).u(1, 0).u(1, 1);
  endIntra(w, 6);
  header = parse(kTrailR, w);
  ASSERT_TRUE(header);
  EXPECT_EQ(std::vector<int32_t>({header->num_long_term_sps, header->num_long_term_pics, header->qp_delta}),
            std::vector<int32_t>({-1, 1, 6}));
}

// Entry points are bounded by rows of coding tree blocks, tiles, or both; the header extension by
// 256 bytes. Each count is accepted at its bound and refused one above it.
TEST_F(SliceHeader265, EntryPointAndExtensionCountsAreBounded) {
  auto entryPoints = [](uint32_t count) {
    BitWriter w = begin(kIdrWRadl, kSliceI);
    endIntra(w);
    w.ue(count);
    if (count) {
      w.ue(15);
      for (uint32_t i = 0; i < count; ++i) w.u(16, 1000 + i);
    }
    return w;
  };
  auto extension = [](uint32_t length) {
    BitWriter w = begin(kIdrWRadl, kSliceI);
    endIntra(w);
    w.ue(length);
    for (uint32_t i = 0; i < length; ++i) w.u(8, 0x55);
    return w;
  };
  const struct {
    h265test::PpsFields pps;
    std::function<BitWriter(uint32_t)> slice;
    uint32_t bound;
  } cases[] = {{{.wavefronts = true}, entryPoints, 16},  // 17 rows
               {{.tiles = true, .tileColumnsMinus1 = 1, .tileRowsMinus1 = 1}, entryPoints, 3},
               {{.tiles = true, .wavefronts = true, .tileColumnsMinus1 = 1, .tileRowsMinus1 = 1}, entryPoints, 33},
               {{.headerExtension = true}, extension, 256}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bound);
    usePps(c.pps);
    EXPECT_TRUE(parse(kIdrWRadl, c.slice(c.bound)));
    EXPECT_FALSE(parse(kIdrWRadl, c.slice(c.bound + 1)));
  }
  EXPECT_EQ(parse(kIdrWRadl, extension(0))->slice_segment_header_extension_length, 0);
  usePps({.wavefronts = true});
  EXPECT_EQ(parse(kIdrWRadl, entryPoints(16))->num_entry_point_offsets, 16);
}

TEST_F(SliceHeader265, AWindowEndingInTheHeaderIsNoEvidenceButTheUnitsEndIs) {
  usePps({.wavefronts = true});
  BitWriter w = begin(kIdrWRadl, kSliceI);
  endIntra(w);
  w.ue(200);  // far more entry points than rows: refused when read
  const size_t headerBytes = w.bytes().size();
  EXPECT_FALSE(parse(kIdrWRadl, w));
  EXPECT_EQ(parse(kIdrWRadl, w, false, headerBytes - 2)->num_entry_point_offsets, -1);

  // The same cut as the unit's real end: a slice segment whose header does not fit is invalid.
  BitWriter ok = begin(kIdrWRadl, kSliceI);
  endIntra(ok);
  ok.ue(3).ue(7).u(24, 0);
  EXPECT_TRUE(parse(kIdrWRadl, ok, true));
  EXPECT_FALSE(parse(kIdrWRadl, ok, true, ok.bytes().size() - 2));
}

TEST_F(SliceHeader265, PredictedSetListModificationAndWeightTableLineUp) {
  // Set 0: S0 = {-1, -3} used, S1 = {+2} used.
  useSps({.temporalMvp = false, .numShortTermSets = 1, .writeShortTermSets = [](BitWriter& w) {
            w.ue(2).ue(1).ue(0).u(1, 1).ue(1).u(1, 1).ue(1).u(1, 1);
          }});
  usePps({.weightedPred = true, .listsModification = true});

  BitWriter w = begin(kTrailR, kSliceP);
  w.u(8, 9).u(1, 0);
  // Set predicted from set 0 with deltaRps +1: pictures -2, +1, +3 (the -1 + 1 = 0 one drops).
  w.u(1, 1).ue(0).u(1, 0).ue(0).u(1, 1).u(1, 1).u(1, 1).u(1, 1);
  w.u(1, 1).u(1, 1);          // SAO
  w.u(1, 1).ue(1);            // two active references
  w.u(1, 1).u(2, 2).u(2, 0);  // list_entry_l0: NumPicTotalCurr 3 gives 2 bits each
  w.ue(6).se(-1);             // weight denominators
  w.u(1, 1).u(1, 0).u(1, 0).u(1, 1);
  w.se(3).se(-2);              // luma weight and offset of entry 0
  w.se(1).se(0).se(-1).se(2);  // chroma weights and offsets of entry 1
  w.ue(3).se(-5).u(1, 1);      // five_minus_max_num_merge_cand, qp delta, loop filter
  auto header = parse(kTrailR, w);
  ASSERT_TRUE(header);
  EXPECT_EQ(std::vector<int32_t>({header->num_ref_idx_l0_active_minus1, header->ref_pic_list_modification_flag_l0,
                                  header->five_minus_max_num_merge_cand, header->qp_delta}),
            std::vector<int32_t>({1, 1, 3, -5}));

  // Sixteen active references are more than any list may hold.
  BitWriter tooMany = begin(kTrailR, kSliceP);
  tooMany.u(8, 9).u(1, 1).u(1, 1).u(1, 1).u(1, 1).ue(15).u(1, 0);
  tooMany.ue(6).se(0).u(32, 0).u(32, 0).ue(0).se(0).u(1, 1);
  EXPECT_FALSE(parse(kTrailR, tooMany));
}

}  // namespace
