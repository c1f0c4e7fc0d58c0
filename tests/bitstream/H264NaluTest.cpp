#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "bitstream/H264TestSupport.h"
#include "bitstream/NALU.h"
#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "bitstream/SliceHeader.h"

using h264test::BitWriter;

// Counts heap allocations made on this thread while a test asks for it, to hold the scan path to
// its promise of allocating nothing for a rejected candidate.
namespace {
thread_local bool countAllocations = false;
thread_local size_t allocations = 0;
}  // namespace

// The replacement pair is malloc/free on both sides; GCC cannot see that across inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
  if (countAllocations) ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

// A baseline SPS (header byte included) with the given id and 4 frame_num bits.
std::vector<uint8_t> baselineSps(uint32_t id) {
  BitWriter w;
  w.u(8, 0x67).u(8, 66).u(8, 0xC0).u(8, 30);
  w.ue(id).ue(0).ue(0).ue(2).ue(1).u(1, 0).ue(10).ue(8).u(1, 1).u(1, 1).u(1, 0).u(1, 0).trailing();
  return w.bytes();
}

std::vector<uint8_t> basicPps(uint32_t ppsId, uint32_t spsId) {
  BitWriter w;
  w.u(8, 0x68).ue(ppsId).ue(spsId).u(1, 0).u(1, 0).ue(0).ue(0).ue(0).u(1, 0).u(2, 0).se(0).se(0).se(0);
  w.u(1, 1).u(1, 0).u(1, 0).trailing();
  return w.bytes();
}

// A length-prefixed unit: prefix of `prefixLength` bytes holding `declaredSize`, then the payload,
// then zeros up to `windowSize` (the scan's 50-byte window).
std::vector<uint8_t> unit(const std::vector<uint8_t>& payload, uint32_t declaredSize, uint32_t prefixLength = 4,
                          size_t windowSize = 50) {
  std::vector<uint8_t> out;
  for (uint32_t i = prefixLength; i-- > 0;) out.push_back(uint8_t(uint64_t(declaredSize) >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  if (out.size() < windowSize) out.resize(windowSize, 0);
  return out;
}

class H264Nalu : public ::testing::Test {
 protected:
  void SetUp() override {
    auto s = baselineSps(0);
    sps = SPS::initSPSWithBytes(s.data(), uint32_t(s.size()));
    auto p = basicPps(0, 0);
    pps = PPS::initPPSWithBytes(p.data(), uint32_t(p.size()));
  }
  std::unique_ptr<NALU> decode(const std::vector<uint8_t>& bytes, uint32_t prefixLength = 4) {
    return NALU::initNALUWithBytes(bytes.data(), uint32_t(bytes.size()), prefixLength, sps.get(), pps.get());
  }
  // A slice: header byte, then first_mb_in_slice, slice_type, pps id, frame_num (4 bits), more.
  std::vector<uint8_t> slice(uint8_t header, uint32_t firstMb, uint32_t sliceType, uint32_t frameNum) {
    return BitWriter()
        .u(8, header)
        .ue(firstMb)
        .ue(sliceType)
        .ue(0)
        .u(4, frameNum)
        .ue(0)
        .u(6, 0)
        .se(-3)
        .trailing()
        .bytes();
  }
  std::unique_ptr<SPS> sps;
  std::unique_ptr<PPS> pps;
};

}  // namespace

TEST_F(H264Nalu, HeaderByteTypeAndNalRefIdcRules) {
  struct Case {
    uint8_t header;
    bool valid;
  } cases[] = {
      {0x01, true},   // non-IDR slice, nal_ref_idc 0
      {0x41, true},   // non-IDR slice, nal_ref_idc 2
      {0x05, false},  // IDR slice needs nal_ref_idc
      {0x65, true},  {0x07, false}, {0x67, true},  {0x08, false}, {0x68, true},  {0x06, true},  // SEI
      {0x26, false},                                // SEI with nal_ref_idc 1
      {0x09, true},  {0x69, false},                 // access unit delimiter must have nal_ref_idc 0
      {0x02, false}, {0x43, false}, {0x44, false},  // data partitions
      {0x0C, false},                                // filler
      {0x0A, false}, {0x0B, false}, {0x14, false}, {0x1F, false}, {0x00, false}, {0x81, false},
      {0xE5, false},  // forbidden bit
  };
  for (const auto& c : cases) {
    auto nalu = NALU::initNALUWithByte(c.header);
    EXPECT_EQ(nalu != nullptr, c.valid) << "header 0x" << std::hex << int(c.header);
    if (nalu) {
      EXPECT_EQ(nalu->nalSize, 0u);
      EXPECT_EQ(nalu->NALType, c.header & 31u);
      EXPECT_EQ(nalu->NRI, (c.header >> 5) & 3u);
      EXPECT_EQ(nalu->frameNum, -1);
    }
  }
}

TEST_F(H264Nalu, SmallUnitsAreLimitedTo800BytesIncludingThePrefix) {
  auto s = baselineSps(0);
  auto atLimit = decode(unit(s, 796));
  ASSERT_NE(atLimit, nullptr);
  EXPECT_EQ(atLimit->nalSize, 800u);
  EXPECT_EQ(decode(unit(s, 797)), nullptr);
  EXPECT_EQ(decode(unit(basicPps(0, 0), 797)), nullptr);
  EXPECT_EQ(decode(unit({0x06, 0x05, 0x10}, 797)), nullptr);
  EXPECT_EQ(decode(unit({0x09, 0xF0}, 797)), nullptr);
  EXPECT_NE(decode(unit({0x09, 0xF0}, 2)), nullptr);
  // Slices have no such limit.
  auto big = decode(unit(slice(0x65, 0, 7, 0), 100000));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->nalSize, 100004u);
}

TEST_F(H264Nalu, LengthPrefixThatDescribesNoUnitIsRejected) {
  auto s = slice(0x41, 3, 0, 5);
  EXPECT_EQ(decode(unit(s, 0)), nullptr);            // no room even for the header byte
  EXPECT_EQ(decode(unit(s, 0xFFFFFFFFu)), nullptr);  // size plus prefix does not fit 32 bits
  EXPECT_EQ(decode(unit(s, 0xFFFFFFFCu)), nullptr);  // ... which would wrap to nalSize 0
  auto largest = decode(unit(s, 0xFFFFFFFBu));
  ASSERT_NE(largest, nullptr);
  EXPECT_EQ(largest->nalSize, 0xFFFFFFFFu);
}

TEST_F(H264Nalu, ShortPrefixesAreReadAtTheirOwnWidth) {
  auto s = slice(0x41, 7, 5, 9);
  auto two = decode(unit(s, 300, 2), 2);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(two->nalSize, 302u);
  EXPECT_EQ(two->firstMBInSlice, 7);
  auto one = decode(unit(s, 200, 1), 1);
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(one->nalSize, 201u);
  EXPECT_EQ(one->frameNum, 9);
  EXPECT_EQ(decode(unit(s, 200, 4), 0), nullptr);
  EXPECT_EQ(decode(unit(s, 200, 4), 5), nullptr);
}

TEST_F(H264Nalu, TooFewBytesForTheHeaderIsRejected) {
  // first_mb_in_slice 0, slice_type 2, pps 0, then the first bits of frame_num.
  std::vector<uint8_t> bytes{0, 0, 0, 20, 0x41, 0xB8};
  EXPECT_EQ(NALU::initNALUWithBytes(bytes.data(), 4, 4, sps.get(), pps.get()), nullptr);
  EXPECT_EQ(NALU::initNALUWithBytes(nullptr, 50, 4, sps.get(), pps.get()), nullptr);
  // With the header byte present the slice is judged, the bits past the end reading as zeros.
  auto shortest = NALU::initNALUWithBytes(bytes.data(), 6, 4, sps.get(), pps.get());
  ASSERT_NE(shortest, nullptr);
  EXPECT_EQ(shortest->sliceType, 2);
  EXPECT_EQ(shortest->frameNum, 0);
}

TEST_F(H264Nalu, SlicesCarryTheirHeaderFieldsAndAreJudgedByIt) {
  auto idr = decode(unit(slice(0x65, 0, 7, 0), 900));
  ASSERT_NE(idr, nullptr);
  EXPECT_EQ(idr->NALType, 5u);
  EXPECT_EQ(idr->sliceType, 7);
  EXPECT_EQ(idr->firstMBInSlice, 0);
  EXPECT_EQ(idr->frameNum, 0);
  ASSERT_NE(dynamic_cast<SliceHeader*>(idr->RBSP.get()), nullptr);
  EXPECT_FALSE(idr->setName.has_value());

  auto p = decode(unit(slice(0x21, 42, 0, 11), 900));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->NRI, 1u);
  EXPECT_EQ(p->sliceType, 0);
  EXPECT_EQ(p->firstMBInSlice, 42);
  EXPECT_EQ(p->frameNum, 11);

  EXPECT_EQ(decode(unit(slice(0x65, 0, 0, 0), 900)), nullptr);  // IDR must be I or SI
  EXPECT_EQ(decode(unit(slice(0x41, 0, 10, 0), 900)), nullptr);
  // Without reference parameter sets a slice cannot be judged.
  auto bytes = unit(slice(0x41, 0, 0, 0), 900);
  EXPECT_EQ(NALU::initNALUWithBytes(bytes.data(), 50, 4, nullptr, pps.get()), nullptr);
  EXPECT_EQ(NALU::initNALUWithBytes(bytes.data(), 50, 4, sps.get(), nullptr), nullptr);
}

TEST_F(H264Nalu, ParameterSetsAndOtherUnits) {
  auto same = decode(unit(baselineSps(0), 14));
  ASSERT_NE(same, nullptr);
  auto* found = dynamic_cast<SPS*>(same->RBSP.get());
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->profile_idc, 66);
  EXPECT_EQ(found->pic_width_in_mbs_minus1, 10);
  EXPECT_EQ(decode(unit(baselineSps(1), 14)), nullptr);  // another sequence's SPS
  auto bytes = unit(baselineSps(0), 14);
  EXPECT_EQ(NALU::initNALUWithBytes(bytes.data(), 50, 4, nullptr, pps.get()), nullptr);

  // A PPS is kept whatever it refers to.
  auto other = decode(unit(basicPps(5, 3), 8));
  ASSERT_NE(other, nullptr);
  auto* p = dynamic_cast<PPS*>(other->RBSP.get());
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->pic_parameter_set_id, 5);
  EXPECT_EQ(p->seq_parameter_set_id, 3);

  for (uint8_t header : {uint8_t(0x06), uint8_t(0x09)}) {
    auto n = decode(unit({header, 0x10, 0x80}, 3));
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->RBSP, nullptr);
    EXPECT_EQ(n->sliceType, -1);
    EXPECT_EQ(n->firstMBInSlice, -1);
    EXPECT_EQ(n->frameNum, -1);
  }
}

TEST_F(H264Nalu, ParameterSetIsReadOnlyOverItsOwnBytes) {
  // The prefix says the SPS ends after its id; what follows belongs to the next unit and must
  // not be taken as its fields.
  auto s = baselineSps(0);
  auto truncated = decode(unit(s, 5));
  ASSERT_NE(truncated, nullptr);
  auto* found = dynamic_cast<SPS*>(truncated->RBSP.get());
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->seq_parameter_set_id, 0);
  EXPECT_EQ(found->pic_width_in_mbs_minus1, 0x7FFFFFFF);  // zeros, not the real width 10
}

TEST_F(H264Nalu, RejectedCandidatesAllocateNothing) {
  std::vector<std::vector<uint8_t>> rejected{
      unit(slice(0x65, 0, 0, 0), 900), unit(slice(0x41, 0, 12, 0), 900),
      unit({0x26, 0x10}, 3),           unit(baselineSps(3), 14),
      unit({0x0C, 0xFF}, 3),           unit({0x06, 0x05}, 900),
  };
  allocations = 0;
  countAllocations = true;
  for (const auto& r : rejected) EXPECT_EQ(decode(r), nullptr);
  countAllocations = false;
  EXPECT_EQ(allocations, 0u);
}
