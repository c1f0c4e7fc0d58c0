#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <vector>

#include "bitstream/H265TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader_265.h"
#include "bitstream/VPS_265.h"
#include "support/TestSupport.h"

using h265test::BitWriter;

namespace {

// A first IDR slice segment of an I picture for the default sets, with some slice data after it.
std::vector<uint8_t> idrSlice(uint32_t ppsId = 0) {
  BitWriter w;
  w.u(1, 1).u(1, 0).ue(ppsId).ue(2).u(1, 1).u(1, 1).se(-2).u(1, 1).u(1, 1).u(7, 0).u(32, 0xdeadbeef);
  return h265test::unit(19, w);
}

std::vector<uint8_t> withPrefix(const std::vector<uint8_t>& unit, uint32_t L = 4, int64_t prefixValue = -1) {
  return h264test::prefixed(unit, L, prefixValue < 0 ? unit.size() : uint64_t(prefixValue));
}

class Nalu265 : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto v = h265test::buildVps(0);
    const auto s = h265test::buildSps({});
    const auto p = h265test::buildPps({});
    vps = VPS_265::initVPS265WithBytes(v.data(), uint32_t(v.size()));
    sps = SPS_265::initSPS265WithBytes(s.data(), uint32_t(s.size()), 1920, 1080);
    pps = PPS_265::initPPS265WithBytes(p.data(), uint32_t(p.size()), sps.get());
    ASSERT_TRUE(vps && sps && pps);
  }

  // The repair scan's view: 50 bytes from the prefix on, zero padded.
  std::unique_ptr<NALU> judge(std::vector<uint8_t> bytes, uint32_t L = 4) const {
    bytes.resize(50, 0);
    return NALU::initNALUWithBytes(bytes.data(), 50, L, vps.get(), sps.get(), pps.get());
  }
  // A unit of `type` with `size` bytes of a plausible payload in total.
  static std::vector<uint8_t> plain(uint32_t type, size_t size = 8, uint32_t layer = 0, uint32_t tid = 1) {
    BitWriter w;
    w.u(8, 0x50);
    std::vector<uint8_t> u = h265test::unit(type, w, layer, tid);
    u.resize(size, 0x80);
    return u;
  }

  std::unique_ptr<VPS_265> vps;
  std::unique_ptr<SPS_265> sps;
  std::unique_ptr<PPS_265> pps;
};

TEST_F(Nalu265, HeaderTypeAndSizeRules) {
  auto aud = judge(withPrefix(plain(35)));
  ASSERT_TRUE(aud);
  EXPECT_EQ(std::vector<uint32_t>({aud->NTempID, aud->nalSize}), std::vector<uint32_t>({1, 12}));
  EXPECT_EQ(aud->setName, "AUD");
  EXPECT_FALSE(aud->RBSP);
  EXPECT_FALSE(judge(withPrefix(plain(35, 8, 0, 0)))) << "temporal id plus 1 of 0";
  EXPECT_FALSE(judge(withPrefix(plain(35, 8, 1, 1)))) << "layer differs from the reference";
  EXPECT_FALSE(judge(withPrefix(plain(35, 8, 32, 1)))) << "layer bit in the first byte";

  for (uint32_t type : {10u, 15u, 22u, 31u, 37u, 38u, 41u, 44u, 47u})
    EXPECT_FALSE(judge(withPrefix(plain(type)))) << "type " << type;
  EXPECT_FALSE(judge(withPrefix(plain(36)))->setName) << "end of sequence: valid, unnamed";
  EXPECT_EQ(judge(withPrefix(plain(40)))->setName, "SEI");

  // nalSize counts the prefix: a 4-byte prefix of 996 gives 1000.
  EXPECT_EQ(judge(withPrefix(plain(63), 4, 996))->setName, "Unspecified");
  EXPECT_FALSE(judge(withPrefix(plain(63), 4, 997)));
  EXPECT_TRUE(judge(withPrefix(plain(39), 4, 796)));
  EXPECT_FALSE(judge(withPrefix(plain(32), 4, 797)));
  EXPECT_TRUE(judge(withPrefix(idrSlice(), 4, 2000000))) << "slices have no ceiling";
  for (uint32_t type : {19u, 35u, 63u}) EXPECT_FALSE(judge(withPrefix(plain(type), 4, 2))) << "nalSize 6, " << type;
  EXPECT_TRUE(judge(withPrefix(plain(35), 4, 3))) << "nalSize 7";

  // 1- and 2-byte prefixes are read at their own width.
  EXPECT_EQ(judge(withPrefix(plain(35), 2), 2)->nalSize, 10u);
  EXPECT_FALSE(judge(withPrefix(plain(35), 4), 5));
}

TEST_F(Nalu265, SlicesAreJudgedByTheirHeaderAndOwnBytes) {
  auto slice = judge(withPrefix(idrSlice()));
  ASSERT_TRUE(slice);
  EXPECT_EQ(slice->setName, "Slice");
  EXPECT_EQ(std::vector<int32_t>({slice->firstMBInSlice, slice->sliceType}), std::vector<int32_t>({1, -1}));
  EXPECT_EQ(dynamic_cast<SliceHeader_265&>(*slice->RBSP).qp_delta, -2);

  EXPECT_FALSE(judge(withPrefix(idrSlice(64))));
  // Without a slice parameter set to judge by, no slice passes.
  std::vector<uint8_t> w = withPrefix(idrSlice());
  w.resize(50);
  EXPECT_FALSE(NALU::initNALUWithBytes(w.data(), 50, 4, vps.get(), sps.get(), nullptr));

  // A unit that ends before its header does cannot be a slice, whatever bytes follow it; the
  // same bytes cut only by the window's end are accepted.
  std::vector<uint8_t> cut = idrSlice();
  cut.resize(3);
  std::vector<uint8_t> stream = withPrefix(cut);
  const std::vector<uint8_t> next = withPrefix(idrSlice());
  stream.insert(stream.end(), next.begin(), next.end());
  EXPECT_FALSE(judge(stream));
  std::vector<uint8_t> window = withPrefix(idrSlice(), 4, 5000);
  window.resize(4 + 4);
  EXPECT_TRUE(judge(window));
}

TEST_F(Nalu265, ParameterSetsInTheStream) {
  auto spsUnit = judge(withPrefix(h265test::buildSps({})));
  ASSERT_TRUE(spsUnit);
  EXPECT_EQ(spsUnit->setName, "SPS");
  EXPECT_TRUE(dynamic_cast<SPS_265*>(spsUnit->RBSP.get()));
  EXPECT_FALSE(judge(withPrefix(h265test::buildSps({.seqParameterSetId = 1})))) << "another set id";
  EXPECT_FALSE(judge(withPrefix(h265test::buildSps({.width = 1280})))) << "another picture size";

  EXPECT_EQ(judge(withPrefix(h265test::buildVps(0)))->setName, "VPS");
  // A picture parameter set that is refused leaves its unit valid, without a payload object.
  auto refused =
      judge(withPrefix(h265test::buildPps({.tiles = true, .tileColumnsMinus1 = 31, .uniformSpacing = false})));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->setName, "PPS");
  EXPECT_FALSE(refused->RBSP);
}

TEST_F(Nalu265, ExtremeCountsInTheReferenceSetsEndWithTheBuffer) {
  // The largest tile counts a ue(v) can carry (with and without wavefronts), and a slice claiming
  // two billion entry points of 32 bits: no overflow, and the parse stops at the end of its bytes.
  for (uint32_t wavefronts : {1u, 0u}) {
    BitWriter p;
    p.ue(0).ue(0).u(7, 0).ue(0).ue(0).se(0).u(3, 0).se(0).se(0).u(4, 0).u(1, 1).u(1, wavefronts);
    p.ue(0xfffffffeu).ue(0xfffffffeu).u(1, 1).u(1, 1).u(1, 1).u(1, 0).u(1, 0).u(1, 0).ue(0).u(1, 1).u(1, 0);
    p.trailing();
    const std::vector<uint8_t> ppsBytes = h265test::unit(34, p);
    auto wide = PPS_265::initPPS265WithBytes(ppsBytes.data(), uint32_t(ppsBytes.size()), sps.get());
    ASSERT_TRUE(wide);
    BitWriter s;
    s.u(1, 1).u(1, 0).ue(0).ue(2).u(1, 1).u(1, 1).se(0).u(1, 1).ue(0x7ffffff0u).ue(31).ue(0xfffffff0u);
    const std::vector<uint8_t> slice = withPrefix(h265test::unit(19, s));
    std::vector<uint8_t> w = withPrefix(h265test::unit(19, s), 4, 100000);
    w.resize(50);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(NALU::initNALUWithBytes(w.data(), 50, 4, vps.get(), sps.get(), wide.get()));
    EXPECT_FALSE(NALU::initNALUWithBytes(slice.data(), uint32_t(slice.size()), 4, vps.get(), sps.get(), wide.get()))
        << "the whole unit ends inside its entry points";
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  }
}

// Randomised damage to real units: nothing may crash, hang or read outside the bytes it is given
// (the sanitizer build checks the last). Every buffer is its own heap block of exactly the size
// passed, so a read past it is caught.
TEST_F(Nalu265, MutatedUnitsNeverReadOutOfBounds) {
  std::vector<std::vector<uint8_t>> units = {h265test::buildVps(0), h265test::buildSps({}), h265test::buildPps({}),
                                             idrSlice(), plain(35)};
  if (testsupport::haveProgram("ffmpeg")) {
    testsupport::TempDir dir;
    const std::string out = dir.file("fuzz.hevc");
    auto made = testsupport::runCommand(
        "ffmpeg -hide_banner -loglevel error -nostdin -y -f lavfi -i testsrc2=size=320x180:rate=25 -frames:v 8 "
        "-c:v libx265 -threads 1 -x265-params log-level=error:pools=none:frame-threads=1 -f hevc " +
        testsupport::shellQuote(out));
    if (made.exitCode == 0) {
      for (auto& u : h264test::splitAnnexB(testsupport::readFile(out))) units.push_back(std::move(u));
    }
  }

  std::mt19937 rng(265);
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  const auto start = std::chrono::steady_clock::now();
  size_t accepted = 0;
  for (int iteration = 0; iteration < 20000; ++iteration) {
    std::vector<uint8_t> u = units[pick(units.size())];
    const int edits = 1 + int(pick(6));
    for (int e = 0; e < edits && !u.empty(); ++e) {
      switch (pick(4)) {
        case 0:
          u[pick(std::min<size_t>(u.size(), 48))] ^= uint8_t(1u << pick(8));
          break;
        case 1:
          u[pick(std::min<size_t>(u.size(), 48))] = uint8_t(rng());
          break;
        case 2:
          u[pick(std::min<size_t>(u.size(), 48))] = 0;
          break;
        default:
          u.resize(pick(u.size() + 1));
          break;
      }
    }
    const uint32_t L = 1 + uint32_t(pick(4));
    std::vector<uint8_t> stream = withPrefix(u, L, pick(3) == 0 ? int64_t(rng() % 5000) : -1);
    const size_t size = std::min<size_t>(stream.size(), 1 + pick(50));
    std::vector<uint8_t> window(stream.begin(), stream.begin() + size);
    if (NALU::initNALUWithBytes(window.data(), uint32_t(window.size()), L, vps.get(), sps.get(), pps.get())) ++accepted;

    // The same bytes as reference parameter sets, and a real slice judged against them.
    std::vector<uint8_t> exact(u.begin(), u.end());
    auto mSps = SPS_265::initSPS265WithBytes(exact.data(), uint32_t(exact.size()), 1920, 1080);
    auto mPps = PPS_265::initPPS265WithBytes(exact.data(), uint32_t(exact.size()), mSps ? mSps.get() : sps.get());
    VPS_265::initVPS265WithBytes(exact.data(), uint32_t(exact.size()));
    std::vector<uint8_t> slice = withPrefix(units[pick(units.size())]);
    slice.resize(std::min<size_t>(slice.size(), 50));
    NALU::initNALUWithBytes(slice.data(), uint32_t(slice.size()), 4, vps.get(), mSps ? mSps.get() : sps.get(),
                            mPps ? mPps.get() : pps.get());
  }
  EXPECT_GT(accepted, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(120));
}

}  // namespace
