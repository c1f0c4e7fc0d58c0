#include <gtest/gtest.h>

#include <chrono>

#include "bitstream/BitstreamTestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader_265.h"
#include "bitstream/UeSeNumCode.h"
#include "bitstream/VPS_265.h"

using namespace bstest;

// The H.265 acceptance rules at their boundaries and on hostile input; the streams test covers
// what real and written units read as.
namespace {

constexpr uint32_t kTrailR = 1, kIdr = 19;

// A first IDR slice segment of an I picture for the default sets, with slice data after it.
std::vector<uint8_t> idrSlice(uint32_t ppsId = 0) {
  return unit265(kIdr, BitWriter().u(2, 0b10).ue(ppsId).ue(2).u(2, 0b11).se(-2).u(9, 0b110000000).u(32, 0xdeadbeef));
}

class H265Rules : public ::testing::Test {
 protected:
  void SetUp() override { use({}); }
  void use(const Sps265& s, const Pps265& p = {}) {
    const auto v = vps265(0), sb = sps265(s), pb = pps265(p);
    vps = VPS_265::initVPS265WithBytes(v.data(), uint32_t(v.size()));
    sps = SPS_265::initSPS265WithBytes(sb.data(), uint32_t(sb.size()), s.width, s.height);
    pps = PPS_265::initPPS265WithBytes(pb.data(), uint32_t(pb.size()), sps.get());
    ASSERT_TRUE(vps && sps && pps);
  }
  // The repair scan's view: 50 bytes from the prefix on, zero padded.
  std::unique_ptr<NALU> judge(std::vector<uint8_t> bytes, uint32_t L = 4) const {
    bytes.resize(50, 0);
    return NALU::initNALUWithBytes(bytes.data(), 50, L, vps.get(), sps.get(), pps.get());
  }
  // A slice segment header, alignment bit and slice data: the whole unit, or its first `window` bytes.
  std::unique_ptr<SliceHeader_265> header(uint32_t type, BitWriter w, bool wholeUnit = true, size_t window = 0) {
    std::vector<uint8_t> bytes = escape(w.u(1, 1).bytes());
    bytes.insert(bytes.end(), {0xa5, 0x5a, 0xc3});
    if (window) bytes.resize(window);
    nalu.NALType = type;
    return SliceHeader_265::initSLiceHeader265WithBytes(bytes.data(), uint32_t(bytes.size()), &nalu, sps.get(),
                                                        pps.get(), nullptr, wholeUnit);
  }
  // first_slice_segment_in_pic_flag .. slice_qp_delta of an IDR I slice for the default sets.
  static BitWriter idrHeader(uint32_t ppsId = 0) { return BitWriter().u(2, 0b10).ue(ppsId).ue(2).u(2, 0b11).se(-3); }

  std::unique_ptr<VPS_265> vps;
  std::unique_ptr<SPS_265> sps;
  std::unique_ptr<PPS_265> pps;
  NALU nalu;
};

TEST_F(H265Rules, UnitHeaderAndSize) {
  auto plain = [](uint32_t type, uint32_t layer = 0, uint32_t tid = 1) {
    auto u = unit265(type, BitWriter().u(8, 0x50), layer, tid);
    u.resize(8, 0x80);
    return u;
  };
  const struct {
    std::vector<uint8_t> unit;
    int64_t declared;
    uint32_t L;
    int64_t nalSize;  // -1: refused
    const char* name;
  } cases[] = {
      {plain(35, 0, 0), -1, 4, -1, ""},          // temporal id plus 1 of 0
      {plain(35, 1), -1, 4, -1, ""},             // a layer other than the reference's
      {plain(35, 32), -1, 4, -1, ""},            // the layer bit in the first byte
      {plain(36), -1, 4, 12, ""},                // end of sequence: valid, unnamed
      {plain(63), 996, 4, 1000, "Unspecified"},  // ceilings, prefix included
      {plain(63), 997, 4, -1, ""},
      {plain(39), 796, 4, 800, "SEI"},
      {plain(32), 797, 4, -1, ""},
      {idrSlice(), 2000000, 4, 2000004, "Slice"},  // none for slices
      {plain(35), 2, 4, -1, ""},                   // at least 7 bytes
      {plain(35), 3, 4, 7, "AUD"},
      {plain(35), -1, 2, 10, "AUD"},  // a 2-byte prefix at its own width
      {plain(35), -1, 5, -1, ""},
  };
  for (const auto& c : cases) {
    auto n = judge(prefixed(c.unit, c.L, c.declared), c.L);
    EXPECT_EQ(n ? int64_t(n->nalSize) : -1, c.nalSize) << (c.unit[0] >> 1) << " " << c.declared << " " << c.L;
    EXPECT_EQ(n ? n->setName.value_or("") : "", c.name) << (c.unit[0] >> 1);
  }
  for (uint32_t type : {10u, 15u, 22u, 31u, 37u, 38u, 41u, 44u, 47u})
    EXPECT_FALSE(judge(prefixed(plain(type)))) << type;
}

TEST_F(H265Rules, UnitsAreJudgedByTheirOwnBytesAndTheReferenceSets) {
  const auto idr = idrSlice();
  auto w = prefixed(idr);
  w.resize(50);
  EXPECT_FALSE(NALU::initNALUWithBytes(w.data(), 50, 4, vps.get(), sps.get(), nullptr));  // no PPS to judge by
  // A unit that ends before its header does cannot be a slice, whatever follows it; the same
  // bytes cut only by the window's end are accepted.
  auto stream = prefixed({idr.begin(), idr.begin() + 3});
  stream.insert(stream.end(), w.begin(), w.end());
  EXPECT_FALSE(judge(stream));
  EXPECT_TRUE(judge({0, 0, 0x13, 0x88, idr[0], idr[1], idr[2], idr[3]}));
  EXPECT_FALSE(judge(prefixed(sps265({.id = 1}))));  // another sequence's set
  EXPECT_FALSE(judge(prefixed(sps265({.width = 1280}))));
  // A picture parameter set that is refused leaves its unit valid, without a payload object.
  auto refused = judge(prefixed(pps265({.tiles = true, .uniform = false, .columnsMinus1 = 31})));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->setName, "PPS");
  EXPECT_FALSE(refused->RBSP);
}

// The largest tile counts a ue(v) carries, with and without wavefronts, and a slice claiming two
// billion entry points of 32 bits: no overflow (a tile-only limit once wrapped to -1), and the
// parse ends with its bytes.
TEST_F(H265Rules, ExtremeCountsInTheReferenceSetsEndWithTheBuffer) {
  for (uint32_t wavefronts : {1u, 0u}) {
    BitWriter p;
    p.ue(0).ue(0).u(7, 0).ue(0).ue(0).se(0).u(3, 0).se(0).se(0).u(4, 0).u(1, 1).u(1, wavefronts);
    const auto wide = unit265(34, p.ue(0xfffffffe).ue(0xfffffffe).u(6, 0b111000).ue(0).u(2, 0b10).trailing());
    pps = PPS_265::initPPS265WithBytes(wide.data(), uint32_t(wide.size()), sps.get());
    ASSERT_TRUE(pps);
    const auto slice =
        unit265(kIdr, BitWriter().u(2, 0b10).ue(0).ue(2).u(2, 0b11).se(0).u(1, 1).ue(0x7ffffff0).ue(31).ue(0xfffffff0));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(judge(prefixed(slice, 4, 100000)));
    const auto whole = prefixed(slice);
    EXPECT_FALSE(NALU::initNALUWithBytes(whole.data(), uint32_t(whole.size()), 4, vps.get(), sps.get(), pps.get()));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

// Set 0: S0 = {-1, -3} both used, S1 = {+2} not used; set 1 predicted from it with deltaRps -1.
void twoSets(BitWriter& w) { w.ue(2).ue(1).ue(0).u(1, 1).ue(1).u(1, 1).ue(1).u(1, 0).u(2, 0b11).ue(0).u(5, 0b10111); }

TEST_F(H265Rules, SequenceParameterSetLimits) {
  auto parse = [](const std::vector<uint8_t>& b, uint32_t width = 1920, size_t size = 0) {
    return SPS_265::initSPS265WithBytes(b.data(), uint32_t(size ? size : b.size()), width, 1080);
  };
  const auto hd = sps265({});
  EXPECT_FALSE(parse(hd, 960)) << "1920 / 960 is 2";
  EXPECT_FALSE(parse(hd, 1921)) << "1920 / 1921 is 0";
  EXPECT_TRUE(parse(sps265({.height = 1088}))) << "coded height rounded up to whole blocks";
  // A damaged max_sub_layers_minus1 makes profile_tier_level() claim sub-layer bytes that are not
  // there; the byte-wise search still finds the identifiers and the size.
  auto damaged = hd;
  damaged[2] |= 0x0e;
  ASSERT_TRUE(parse(damaged));
  EXPECT_EQ(parse(damaged)->pic_width_in_luma_samples, 1920);
  std::vector<uint8_t> implausible{0x42, 0x01, 0x01};  // identifiers out of range wherever the search looks
  implausible.resize(43, 0x41);
  EXPECT_FALSE(parse(implausible));
  EXPECT_TRUE(parse(sps265({.longTerm = true, .numLongTerm = 32})));
  EXPECT_FALSE(parse(sps265({.longTerm = true, .numLongTerm = 33})));
  EXPECT_FALSE(parse(sps265({.numShortTermSets = 65})));
  EXPECT_FALSE(parse(sps265({.numShortTermSets = 1, .shortTermSets = [](BitWriter& w) { w.ue(17).ue(0); }})))
      << "17 pictures: more than a DPB holds";
  // A window ending inside the sets keeps what was read; the refusing long-term count lies beyond it.
  const auto cutShort = sps265({.numShortTermSets = 2, .shortTermSets = twoSets, .longTerm = true, .numLongTerm = 33});
  EXPECT_FALSE(parse(cutShort));
  auto cut = parse(cutShort, 1920, 32);
  ASSERT_TRUE(cut);
  EXPECT_EQ(std::make_pair(cut->shortTermRefPicSets.size(), cut->long_term_ref_pics_present_flag),
            std::make_pair(size_t(1), -1));
}

TEST_F(H265Rules, ProfileTierLevelWithSubLayers) {
  BitWriter w;
  profileTierLevel265(w);                      // 96 bits
  w.u(6, 0b100111).u(10, 0);                   // three sub-layers' present flags, reserved bits for the other five
  w.u(44, 0x123).u(44, 0x456).u(8, 30);        // sub-layer 0 profile, sub-layer 1 level
  w.u(44, 0x789).u(44, 0xabc).u(8, 60).ue(5);  // sub-layer 2 profile and level
  const std::vector<uint8_t> bytes = w.bytes();
  uint32_t bytePos = 0, bitPos = 0;
  UeSeNumCode::profile_tier_level(1, 3, bytes, bytePos, bitPos);
  EXPECT_EQ(bytePos * 8 + bitPos, 304u);
  EXPECT_EQ(UeSeNumCode::getUEVCodeNumFromBytes(bytes, bytePos, bitPos), 5u);
}

TEST_F(H265Rules, VideoAndPictureParameterSetLimits) {
  for (uint32_t layerSets : {1023u, 1024u}) {
    const auto v = vps265(layerSets);
    EXPECT_EQ(VPS_265::initVPS265WithBytes(v.data(), uint32_t(v.size())) != nullptr, layerSets == 1023);
  }
  // Header, ids, flags, counts and 0xffff, then stand-in bytes holding 00 03 00 twice: the reading
  // resumes after the last.
  std::vector<uint8_t> bytes{0x40, 0x01, 0x0c, 0x01, 0xff, 0xff, 0x00, 0x03, 0x00, 0x77, 0x00, 0x00, 0x03, 0x00, 0x5d};
  for (uint8_t b : BitWriter().u(1, 1).ue(6).ue(1).ue(0).u(6, 0).ue(3).u(2, 0).trailing().bytes()) bytes.push_back(b);
  auto v = VPS_265::initVPS265WithBytes(bytes.data(), uint32_t(bytes.size()));
  ASSERT_TRUE(v);
  EXPECT_EQ(std::vector<int32_t>(
                {v->max_dec_pic_buffering_minus1.at(0), v->max_num_reorder_pics.at(0), v->num_layer_sets_minus1}),
            std::vector<int32_t>({6, 1, 3}));
  // Tile columns are held against the picture's 30 block columns only when spaced explicitly.
  auto tiles = [&](uint32_t columnsMinus1, bool uniform) {
    const auto b = pps265({.tiles = true, .uniform = uniform, .columnsMinus1 = columnsMinus1, .rowsMinus1 = 1});
    return PPS_265::initPPS265WithBytes(b.data(), uint32_t(b.size()), sps.get()) != nullptr;
  };
  EXPECT_EQ(std::vector<bool>({tiles(40, true), tiles(30, false), tiles(29, false)}),
            std::vector<bool>({true, false, true}));
}

TEST_F(H265Rules, SliceHeaderCountsAreBounded) {
  EXPECT_TRUE(header(kIdr, idrHeader(63).u(1, 1)));
  EXPECT_FALSE(header(kIdr, idrHeader(64).u(1, 1)));
  // Entry points are bounded by rows of coding tree blocks, tiles, or both; the header extension by
  // 256 bytes. Each count is accepted at its bound and refused one above it.
  auto entryPoints = [](uint32_t count) {
    BitWriter w = idrHeader().u(1, 1).ue(count);
    for (uint32_t i = 0; count && i <= count; ++i) i ? w.u(16, 1000 + i) : w.ue(15);
    return w;
  };
  auto extension = [](uint32_t length) {
    BitWriter w = idrHeader().u(1, 1).ue(length);
    for (uint32_t i = 0; i < length; ++i) w.u(8, 0x55);
    return w;
  };
  const struct {
    Pps265 pps;
    std::function<BitWriter(uint32_t)> slice;
    uint32_t bound;
  } cases[] = {{{.wavefronts = true}, entryPoints, 16},  // 17 rows
               {{.tiles = true, .columnsMinus1 = 1, .rowsMinus1 = 1}, entryPoints, 3},
               {{.tiles = true, .wavefronts = true, .columnsMinus1 = 1, .rowsMinus1 = 1}, entryPoints, 33},
               {{.headerExtension = true}, extension, 256}};
  for (const auto& c : cases) {
    use({}, c.pps);
    EXPECT_TRUE(header(kIdr, c.slice(c.bound))) << c.bound;
    EXPECT_FALSE(header(kIdr, c.slice(c.bound + 1))) << c.bound;
  }
  // Long-term pictures from the SPS: no more than it lists, and no count of them when it lists none.
  auto longTerm = [](bool spsCount, uint32_t fromSps) {
    BitWriter w = BitWriter().u(1, 1).ue(0).ue(2).u(8, 5).u(1, 0).ue(0).ue(0);  // POC, an explicit empty set
    if (spsCount) w.ue(fromSps);
    w.ue(1);
    for (uint32_t i = 0; i < fromSps; ++i) w.u(2, i & 1 ? 0b10 : 0);
    return w.u(8, 3).u(3, 0b101).u(2, 0b11).se(6).u(1, 1);  // one of its own, temporal MVP, SAO, qp, loop filter
  };
  use({.longTerm = true, .numLongTerm = 2});
  auto two = header(kTrailR, longTerm(true, 2));
  ASSERT_TRUE(two);
  EXPECT_EQ(two->qp_delta, 6);
  EXPECT_FALSE(header(kTrailR, longTerm(true, 3)));
  use({.longTerm = true});
  auto none = header(kTrailR, longTerm(false, 0));
  ASSERT_TRUE(none);
  EXPECT_EQ(std::vector<int32_t>({none->num_long_term_sps, none->num_long_term_pics, none->qp_delta}),
            std::vector<int32_t>({-1, 1, 6}));
  // A list holds fifteen active references, not sixteen (told apart in a window, where the end of
  // the bytes is no evidence).
  use({}, {.weightedPred = true});
  for (uint32_t refs : {15u, 16u}) {  // POC, an explicit empty set, MVP, SAO, the count, collocated_ref_idx
    const BitWriter w = BitWriter().u(1, 1).ue(0).ue(1).u(8, 9).u(1, 0).ue(0).ue(0).u(4, 0b1111).ue(refs - 1).ue(0);
    EXPECT_EQ(header(kTrailR, w, false) != nullptr, refs == 15) << refs;
  }
}

TEST_F(H265Rules, AWindowEndingInTheHeaderIsNoEvidenceButTheUnitsEndIs) {
  use({}, {.wavefronts = true});
  BitWriter many = idrHeader().u(1, 1).ue(200);  // far more entry points than rows: refused when read
  EXPECT_FALSE(header(kIdr, many));
  EXPECT_EQ(header(kIdr, many, false, many.bytes().size() - 2)->num_entry_point_offsets, -1);
  BitWriter ok = idrHeader().u(1, 1).ue(3).ue(7).u(24, 0);
  EXPECT_TRUE(header(kIdr, ok, true));
  EXPECT_FALSE(header(kIdr, ok, true, ok.bytes().size() - 2));  // the same cut as the unit's real end
}

}  // namespace
