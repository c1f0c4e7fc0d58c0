#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "MovieTreeBuilder.h"
#include "boxes/Ctts.h"
#include "boxes/Sdtp.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"

namespace {

using treebuilder::Bytes;
void put32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void put64(Bytes& b, uint64_t v) {
  put32(b, static_cast<uint32_t>(v >> 32));
  put32(b, static_cast<uint32_t>(v));
}
// A full-box table header with the given size, type and entry count.
Bytes tableHeader(uint32_t size, const char* type, uint32_t count) {
  Bytes b;
  put32(b, size);
  b.insert(b.end(), type, type + 4);
  put32(b, 0);
  put32(b, count);
  return b;
}

std::vector<uint32_t> be32s(const Bytes& b, size_t from) {
  std::vector<uint32_t> v;
  for (size_t p = from; p + 4 <= b.size(); p += 4)
    v.push_back(uint32_t(b[p]) << 24 | b[p + 1] << 16 | b[p + 2] << 8 | b[p + 3]);
  return v;
}

TEST(SampleTableCreation, WritesTheDocumentedBytes) {
  auto stts = Stts::initSTTSWithSampleCount(100, 1024);
  EXPECT_EQ(stts->writeableData,
            (Bytes{0, 0, 0, 0x18, 's', 't', 't', 's', 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0x64, 0, 0, 0x04, 0x00}));
  EXPECT_EQ(stts->size, 24u);
  EXPECT_EQ(stts->getOneSampleDuration(), 1024u);

  auto stsz = Stsz::initSTSZWithSampleCount(500, 1);
  EXPECT_EQ(stsz->writeableData, (Bytes{0, 0, 0, 20, 's', 't', 's', 'z', 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0x01, 0xF4}));

  auto sized = Stsz::initSTSZWithSampleSizeTable({7, 0x01020304});
  EXPECT_EQ(sized->size, 28u);
  EXPECT_EQ(be32s(sized->writeableData, 0), (std::vector<uint32_t>{28, 0x7374737A, 0, 0, 2, 7, 0x01020304}));

  auto sdtp = Sdtp::initSDTPWithSampleCount(5, {0x20, 0x10});
  ASSERT_TRUE(sdtp);
  EXPECT_EQ(sdtp->writeableData, (Bytes{0, 0, 0, 17, 's', 'd', 't', 'p', 0, 0, 0, 0, 0x20, 0x10, 0x20, 0x10, 0x20}));
  EXPECT_EQ(sdtp->size, 17u);

  auto co64 = Stco::initWithChunkOffsetTable({0x10, 0x123456789ULL});
  Bytes expected = tableHeader(32, "co64", 2);
  put64(expected, 0x10);
  put64(expected, 0x123456789ULL);
  EXPECT_EQ(co64->writeableData, expected);
  EXPECT_EQ(co64->size, 32u);

  auto stsc = Stsc::initSTSCWithSampleToChunkTable(
      {SampleToChunkEntery::initWithFirstChunk(1, 1024, 1), SampleToChunkEntery::initWithFirstChunk(20, 512, 1)});
  EXPECT_EQ(stsc->size, 40u);
  EXPECT_EQ(be32s(stsc->writeableData, 0), (std::vector<uint32_t>{40, 0x73747363, 0, 2, 1, 1024, 1, 20, 512, 1}));
}

TEST(SampleTableCreation, EmptyInputsStayConsistent) {
  // No dependency bytes to repeat: no box at all rather than a box that lies about its samples.
  EXPECT_EQ(Sdtp::initSDTPWithSampleCount(10, {}), nullptr);
  auto noSamples = Sdtp::initSDTPWithSampleCount(0, {1});
  ASSERT_TRUE(noSamples);
  EXPECT_EQ(noSamples->writeableData.size(), 12u);

  EXPECT_EQ(Stco::initWithChunkOffsetTable({})->writeableData, tableHeader(16, "co64", 0));
  EXPECT_EQ(Stss::initSTSSWithSyncSampleTable({})->writeableData, tableHeader(16, "stss", 0));
  EXPECT_EQ(Stsc::initSTSCWithSampleToChunkTable({})->writeableData, tableHeader(16, "stsc", 0));
}

TEST(SyncSamplePattern, FollowsTheReferenceIntervalWithinTheTrack) {
  auto stss = Stss::initSTSSWithSampleCount(300, 31);
  EXPECT_EQ(stss->size, 16u + 4 * 8);
  EXPECT_EQ(be32s(stss->writeableData, 12), (std::vector<uint32_t>{8, 1, 31, 61, 91, 121, 151, 181, 211}));
  // A track shorter than the interval names only its first sample, in a box that says so.
  auto shortTrack = Stss::initSTSSWithSampleCount(20, 31);
  EXPECT_EQ(shortTrack->size, 20u);
  EXPECT_EQ(shortTrack->writeableData.size(), 20u);

  struct Case {
    uint32_t samples, interval;
    std::vector<uint32_t> sync;
  };
  for (const Case& c : std::vector<Case>{
           {300, 31, {1, 31, 61, 91, 121, 151, 181, 211}},
           {1, 1, {1}},
           {10, 2, {1, 2, 3, 4}},
           {0, 31, {}},
           {100, 0, {}},
           {20, 31, {1}},  // 31, 61, ... would point past the 20th sample
           {31, 31, {1, 31}},
           {50, 1, {1}},                     // an interval of 1 would name sample 1 over and over
           {0x80000000u, 0xFFFFFFFFu, {1}},  // large intervals must not wrap around in 32 bits
       }) {
    SCOPED_TRACE(std::to_string(c.samples) + "/" + std::to_string(c.interval));
    EXPECT_EQ(Stss::initSTSSWithSampleCount(c.samples, c.interval)->syncSampleTable, c.sync);
  }
}

TEST(SampleTableParsing, TruncatedTablesKeepTheirCountButOnlyWholeEntries) {
  Bytes stco = tableHeader(16 + 12, "stco", 10);
  put32(stco, 100);
  put32(stco, 200);
  put32(stco, 300);
  auto parsed = Stco::initSTCOWithBytes(stco.data(), uint32_t(stco.size()), false);
  EXPECT_EQ(parsed->numberOfEntries, 10u);
  EXPECT_EQ(parsed->chunkOffsetTable, (std::vector<uint64_t>{100, 200, 300}));

  // Entries shorter than their record are not read either.
  Bytes stsc = tableHeader(0, "stsc", 3);
  for (uint32_t v : {1u, 10u, 1u, 5u, 7u}) put32(stsc, v);
  auto runs = Stsc::initSTSCWithBytes(stsc.data(), uint32_t(stsc.size()));
  ASSERT_EQ(runs->SampleToChunkTable.size(), 1u);
  EXPECT_EQ(runs->SampleToChunkTable[0].samplesPerChunk, 10u);
  EXPECT_EQ(runs->numberOfEntries, 3u);

  Bytes stts = tableHeader(0, "stts", 0xFFFFFFFF);
  put32(stts, 3);
  put32(stts, 512);
  put32(stts, 9);
  auto times = Stts::initSTTSWithBytes(stts.data(), uint32_t(stts.size()));
  ASSERT_EQ(times->entries.size(), 1u);
  EXPECT_EQ(times->getOneSampleDuration(), 512u);
  EXPECT_EQ(Stts::initSTTSWithBytes(stts.data(), 16)->getOneSampleDuration(), 0u);

  Bytes stss = tableHeader(0, "stss", 2);
  put32(stss, 1);
  stss.push_back(0);
  EXPECT_EQ(Stss::initSTSSWithBytes(stss.data(), uint32_t(stss.size()))->syncSampleTable, (std::vector<uint32_t>{1}));

  // Header fields that do not fit are 0, not read from beyond the box.
  auto tiny = Stsz::initSTSZWithBytes(stss.data(), 6);
  EXPECT_EQ(tiny->type, 0u);
  EXPECT_TRUE(tiny->SampleSizeTable.empty());
}

TEST(SampleTableParsing, WideOffsetsConstantSizeWithTableAndDependencyBytes) {
  Bytes co64 = tableHeader(32, "co64", 2);
  put64(co64, 0x1'0000'0010ULL);
  put64(co64, 0xFFFF'FFFF'FFFF'FFF0ULL);
  auto parsed = Stco::initSTCOWithBytes(co64.data(), uint32_t(co64.size()), true);
  EXPECT_TRUE(parsed->isCO64);
  EXPECT_EQ(parsed->chunkOffsetTable, (std::vector<uint64_t>{0x1'0000'0010ULL, 0xFFFF'FFFF'FFFF'FFF0ULL}));
  // The same bytes read as 4-byte offsets give four halves.
  EXPECT_EQ(Stco::initSTCOWithBytes(co64.data(), uint32_t(co64.size()), false)->chunkOffsetTable.size(), 2u);

  // A constant size of 1024, yet sizes follow: they are read all the same.
  Bytes stsz = tableHeader(28, "stsz", 1024);
  for (uint32_t v : {2u, 11u, 22u}) put32(stsz, v);
  auto sizes = Stsz::initSTSZWithBytes(stsz.data(), uint32_t(stsz.size()));
  EXPECT_EQ(sizes->sampleSize, 1024u);
  EXPECT_EQ(sizes->numberOfEntries, 2u);
  EXPECT_EQ(sizes->SampleSizeTable, (std::vector<uint32_t>{11, 22}));

  // Every byte after the dependency table's header is one sample's.
  Bytes sdtp = tableHeader(15, "sdtp", 0);
  sdtp.resize(12);
  sdtp.insert(sdtp.end(), {0x20, 0x10, 0x18});
  EXPECT_EQ(Sdtp::initSDTPWithBytes(sdtp.data(), 15)->Data, (Bytes{0x20, 0x10, 0x18}));
  EXPECT_TRUE(Sdtp::initSDTPWithBytes(sdtp.data(), 12)->Data.empty());
  EXPECT_TRUE(Sdtp::initSDTPWithBytes(sdtp.data(), 9)->Data.empty());
}

TEST(CompositionOffsets, ParsedTableIsWrittenWithTheEntriesItHas) {
  Bytes ctts = tableHeader(16 + 8 * 4, "ctts", 4);
  for (uint32_t v : {1u, 0u, 2u, 1001u, 1u, 2002u}) put32(ctts, v);
  ctts.resize(16 + 8 * 3 + 5);  // the fourth entry is cut short
  auto parsed = Ctts::initCTTSWithBytes(ctts.data(), uint32_t(ctts.size()));
  EXPECT_EQ(parsed->numberOfEntries, 4u);
  ASSERT_EQ(parsed->compositionOffsetTable.size(), 3u);
  // First run's offset is 0: the second run's offset tells the reordering delay.
  EXPECT_EQ(parsed->getCompositionOffset(), 1001u);

  Bytes expected = tableHeader(40, "ctts", 3);
  for (uint32_t v : {1u, 0u, 2u, 1001u, 1u, 2002u}) put32(expected, v);
  EXPECT_EQ(parsed->writeableData, expected);
  EXPECT_EQ(parsed->size, parsed->writeableData.size());

  auto built = Ctts::initCTTSWithCompositionOffsetTable({CompositionOffsetEntery::initCOEnteryWithSampleCount(3, 512)});
  EXPECT_EQ(built->getCompositionOffset(), 512u);
  EXPECT_EQ(built->writeableData.size(), 24u);
  EXPECT_EQ(Ctts::initCTTSWithBytes(ctts.data(), 8)->getCompositionOffset(), 0u);
}

TEST(SampleToChunk, RegeneratedTableCountsWhatItWrites) {
  Bytes stsc = tableHeader(16 + 24, "stsc", 5);
  for (uint32_t v : {1u, 1024u, 1u, 9u, 300u, 1u}) put32(stsc, v);
  auto parsed = Stsc::initSTSCWithBytes(stsc.data(), uint32_t(stsc.size()));
  EXPECT_EQ(parsed->numberOfEntries, 5u);
  parsed->asignWritableData();
  EXPECT_EQ(parsed->numberOfEntries, 2u);
  EXPECT_EQ(parsed->size, 40u);
  Bytes expected = tableHeader(40, "stsc", 2);
  for (uint32_t v : {1u, 1024u, 1u, 9u, 300u, 1u}) put32(expected, v);
  EXPECT_EQ(parsed->writeableData, expected);

  // A run changed after it was built is written with its new fields.
  parsed->SampleToChunkTable[1].samplesPerChunk = 7;
  parsed->asignWritableData();
  EXPECT_EQ(be32s(parsed->writeableData, 32)[0], 7u);
}

}  // namespace
