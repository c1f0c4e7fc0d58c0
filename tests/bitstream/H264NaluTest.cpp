#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "bitstream/H264TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

using h264test::BitWriter;

// Counts this thread's heap allocations while asked to: the scan path promises none for a
// rejected candidate. The replacement pair is malloc/free on both sides.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
thread_local bool countAllocations = false;
thread_local size_t allocations = 0;
}  // namespace
void* operator new(std::size_t size) {
  if (countAllocations) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

std::vector<uint8_t> spsWithId(uint32_t id) {  // baseline, 4 frame_num bits, 176x144
  BitWriter w;
  w.u(8, 0x67).u(8, 66).u(8, 0xC0).u(8, 30).ue(id).ue(0).ue(0).ue(2).ue(1).u(1, 0).ue(10).ue(8).u(4, 0b1100);
  return w.trailing().bytes();
}
std::vector<uint8_t> pps(uint32_t ppsId, uint32_t spsId) {
  BitWriter w;
  w.u(8, 0x68).ue(ppsId).ue(spsId).u(2, 0).ue(0).ue(0).ue(0).u(3, 0).se(0).se(0).se(0).u(3, 0b100);
  return w.trailing().bytes();
}
// header byte, first_mb_in_slice, slice_type, pic_parameter_set_id, frame_num, then more fields
std::vector<uint8_t> slice(uint8_t header, uint32_t firstMb, uint32_t sliceType, uint32_t frameNum) {
  BitWriter w;
  w.u(8, header).ue(firstMb).ue(sliceType).ue(0).u(4, frameNum).ue(0).u(6, 0).se(-3);
  return w.trailing().bytes();
}
// A 50-byte scan window: a length prefix holding `declared`, the unit, zeros.
std::vector<uint8_t> unit(const std::vector<uint8_t>& nal, uint64_t declared, uint32_t prefix = 4) {
  auto out = h264test::prefixed(nal, prefix, declared);
  out.resize(std::max<size_t>(out.size(), 50), 0);
  return out;
}

class H264Nalu : public ::testing::Test {
 protected:
  std::unique_ptr<NALU> decode(const std::vector<uint8_t>& w, uint32_t prefix = 4, bool withSets = true) {
    return NALU::initNALUWithBytes(w.data(), uint32_t(w.size()), prefix, withSets ? sps.get() : nullptr, pps.get());
  }
  std::vector<uint8_t> s0 = spsWithId(0), p0 = ::pps(0, 0);
  std::unique_ptr<SPS> sps = SPS::initSPSWithBytes(s0.data(), uint32_t(s0.size()));
  std::unique_ptr<PPS> pps = PPS::initPPSWithBytes(p0.data(), uint32_t(p0.size()));
};

}  // namespace

TEST_F(H264Nalu, HeaderByteRules) {
  // Valid: non-IDR slices with any nal_ref_idc; IDR, SPS, PPS only as references; SEI and
  // delimiter only as non-references. Data partitions, filler and the rest never.
  for (uint8_t h : {0x01, 0x41, 0x65, 0x67, 0x68, 0x06, 0x09}) {
    auto n = NALU::initNALUWithByte(h);
    ASSERT_NE(n, nullptr) << int(h);
    EXPECT_EQ(std::vector<uint32_t>({n->nalSize, n->NALType, n->NRI}),
              std::vector<uint32_t>({0, h & 31u, (h >> 5) & 3u}));
  }
  for (uint8_t h : {0x05, 0x07, 0x08, 0x26, 0x69, 0x02, 0x43, 0x44, 0x0C, 0x0A, 0x14, 0x1F, 0x00, 0x81, 0xE5}) {
    EXPECT_EQ(NALU::initNALUWithByte(h), nullptr) << int(h);
  }
}

TEST_F(H264Nalu, SizeRules) {
  auto atLimit = decode(unit(s0, 796));  // 800 with the prefix passes, 801 does not
  ASSERT_NE(atLimit, nullptr);
  EXPECT_EQ(atLimit->nalSize, 800u);
  for (const auto& small : {s0, ::pps(0, 0), std::vector<uint8_t>{0x06, 5}, std::vector<uint8_t>{0x09, 0xF0}}) {
    EXPECT_EQ(decode(unit(small, 797)), nullptr) << int(small[0]);
  }
  EXPECT_EQ(decode(unit(slice(0x65, 0, 7, 0), 100000))->nalSize, 100004u);  // no limit for slices
  // A prefix that leaves no room for the header byte, or whose sum with the prefix length
  // wraps round 32 bits (to 0 or to a tiny size), describes no unit.
  auto s = slice(0x41, 3, 0, 5);
  for (uint64_t bad : {0x0ull, 0xFFFFFFFFull, 0xFFFFFFFCull}) EXPECT_EQ(decode(unit(s, bad)), nullptr) << bad;
  EXPECT_EQ(decode(unit(s, 0xFFFFFFFBu))->nalSize, 0xFFFFFFFFu);
  // 1- and 2-byte prefixes are read at their own width; other widths are refused.
  EXPECT_EQ(decode(unit(s, 300, 2), 2)->nalSize, 302u);
  EXPECT_EQ(decode(unit(s, 200, 1), 1)->nalSize, 201u);
  EXPECT_EQ(decode(unit(s, 200), 0), nullptr);
  EXPECT_EQ(decode(unit(s, 200), 5), nullptr);
  // The buffer must hold the header byte; bits past it read as zeros.
  std::vector<uint8_t> tiny{0, 0, 0, 20, 0x41, 0xB8};  // first_mb 0, slice_type 2, pps 0
  EXPECT_EQ(NALU::initNALUWithBytes(tiny.data(), 4, 4, sps.get(), pps.get()), nullptr);
  EXPECT_EQ(NALU::initNALUWithBytes(nullptr, 50, 4, sps.get(), pps.get()), nullptr);
  EXPECT_EQ(NALU::initNALUWithBytes(tiny.data(), 6, 4, sps.get(), pps.get())->sliceType, 2);
}

TEST_F(H264Nalu, PayloadRules) {
  auto p = decode(unit(slice(0x21, 42, 0, 11), 900));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(std::vector<int32_t>({p->firstMBInSlice, p->sliceType, p->frameNum}), std::vector<int32_t>({42, 0, 11}));
  EXPECT_NE(dynamic_cast<SliceHeader*>(p->RBSP.get()), nullptr);
  EXPECT_FALSE(p->setName.has_value());
  EXPECT_EQ(decode(unit(slice(0x65, 0, 0, 0), 900)), nullptr);  // IDR must be I or SI
  EXPECT_EQ(decode(unit(slice(0x41, 0, 10, 0), 900)), nullptr);
  EXPECT_EQ(decode(unit(slice(0x41, 0, 0, 0), 900), 4, false), nullptr);  // nothing to judge against

  auto same = decode(unit(s0, uint32_t(s0.size())));
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(dynamic_cast<SPS&>(*same->RBSP).pic_width_in_mbs_minus1, 10);
  EXPECT_EQ(decode(unit(spsWithId(1), 14)), nullptr);  // another sequence's SPS
  EXPECT_EQ(decode(unit(s0, 14), 4, false), nullptr);
  // A parameter set is read over its own bytes only: with a prefix ending after its id the
  // zeros, not the next unit's bytes, make up the rest.
  EXPECT_EQ(dynamic_cast<SPS&>(*decode(unit(s0, 5))->RBSP).pic_width_in_mbs_minus1, 0x7FFFFFFF);

  auto other = decode(unit(::pps(5, 3), 8));  // a PPS is kept whatever it refers to
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(dynamic_cast<PPS&>(*other->RBSP).pic_parameter_set_id, 5);
  for (uint8_t h : {0x06, 0x09}) {
    auto n = decode(unit({h, 0x10, 0x80}, 3));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->RBSP, nullptr);
    EXPECT_EQ(std::vector<int32_t>({n->firstMBInSlice, n->sliceType, n->frameNum}), std::vector<int32_t>({-1, -1, -1}));
  }
}

TEST_F(H264Nalu, RejectedCandidatesAllocateNothing) {
  std::vector<std::vector<uint8_t>> rejected{unit(slice(0x65, 0, 0, 0), 900),
                                             unit(slice(0x41, 0, 12, 0), 900),
                                             unit({0x26, 0x10}, 3),
                                             unit(spsWithId(3), 14),
                                             unit({0x0C}, 3),
                                             unit({0x06, 0x05}, 900)};
  allocations = 0;
  countAllocations = true;
  for (const auto& r : rejected) EXPECT_EQ(decode(r), nullptr);
  countAllocations = false;
  EXPECT_EQ(allocations, 0u);
}
