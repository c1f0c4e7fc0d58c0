// Sample descriptions and sample tables at the edges real files do not reach: the rules that
// decide what a damaged or unusual reference yields. Real files' values and byte-exact rewrites
// are in RealMoviesTest.

#include "MovieTreeBuilder.h"

using namespace treebuilder;

namespace {

// Parameter set units as records hold them (only their bytes matter here).
const Bytes kSps = {0x67, 0x42, 0xC0, 0x0D}, kPps = {0x68, 0xCE, 0x0F, 0xC8};

Bytes avcC(uint8_t lengthSizeByte, const std::vector<Bytes>& sps, const std::vector<Bytes>& pps) {
  Bytes p = {1, 0x42, 0xC0, 0x0D, lengthSizeByte, uint8_t(0xE0 | sps.size())};
  auto add = [&p](const Bytes& unit) {
    append(p, {uint8_t(unit.size() >> 8), uint8_t(unit.size())});
    append(p, unit);
  };
  for (const Bytes& s : sps) add(s);
  p.push_back(uint8_t(pps.size()));
  for (const Bytes& s : pps) add(s);
  return box("avcC", {p});
}
// An "hvcC" announcing the given number of arrays (none present) and 1-byte length prefixes,
// which "hvc1" does not follow.
Bytes hvcC(uint8_t numOfArrays) {
  Bytes p(22, 0);
  p[21] = 0xFC;
  p.push_back(numOfArrays);
  return box("hvcC", {p});
}

// An ES descriptor payload: a decoder configuration (160 kbit/s max, 128 average) with the
// given decoder-specific bytes, and an SL configuration.
Bytes esPayload(const Bytes& decoderSpecificInfo) {
  Bytes dcd = {0x40, 0x15, 0x00, 0x18, 0x00};
  append(dcd, raw({160000, 128000}));
  if (!decoderSpecificInfo.empty()) append(dcd, {5, uint8_t(decoderSpecificInfo.size())});
  append(dcd, decoderSpecificInfo);
  Bytes es = {0x00, 0x01, 0x00, 4, uint8_t(dcd.size())};
  append(es, dcd);
  append(es, {6, 1, 2});
  return es;
}
Bytes esds(const Bytes& es) { return box("esds", {raw({0}), Bytes{3, uint8_t(es.size())}, es}); }

std::unique_ptr<Stsd> parse(const Bytes& b) { return Stsd::initSTSDWithBytes(b.data(), uint32_t(b.size())); }

}  // namespace

TEST(SampleDescription, NaluLengthSizeFollowsTheRecordExceptForHevc) {
  // Only the low two bits of the record's byte count, the record found past zero-sized children
  // that cannot advance the scan; without a record the length size reads as 0 + 1; "hvc1" takes 4
  // whatever its record says.
  Bytes children = raw({0, 0x61766343, 0, 0x636F6C72});  // zero-sized "avcC" and "colr"
  append(children, avcC(0xFD, {kSps}, {kPps}));
  EXPECT_EQ(parse(stsd(videoEntry("avc1", 16, 16, children)))->avc1NaluSizeLength(), 2);
  EXPECT_EQ(parse(stsd(videoEntry("avc1", 16, 16, {})))->avc1NaluSizeLength(), 1);
  EXPECT_EQ(parse(stsd(videoEntry("hvc1", 16, 16, hvcC(3))))->avc1NaluSizeLength(), 4);
}

TEST(SampleDescription, AvcRecordKeepsTheLastSetAndSkipsSetsThatOverrun) {
  const Bytes other = {0x67, 0x64, 0x00, 0x1E}, two = avcC(3, {kSps, other}, {kPps});
  EXPECT_EQ(
      AVCDecoderConfigurationRecord::initAVCCWithBytes(two.data(), uint32_t(two.size()))->sequenceParameterSetNALUnit,
      other);
  // Cut inside the second set: the first one stays, and no PPS.
  auto partial = AVCDecoderConfigurationRecord::initAVCCWithBytes(two.data(), uint32_t(two.size() - 10));
  EXPECT_EQ(partial->sequenceParameterSetNALUnit, kSps);
  EXPECT_EQ(partial->pps, nullptr);
}

TEST(SampleDescription, DamagedEntryListsEndWithTheirBytes) {
  // An entry running past the box or claiming less than its own header; a count far above what
  // is there ends with the bytes.
  Bytes overrun = stsd(soundEntry("twos")), zero = overrun, many = overrun;
  overrun.pop_back();
  std::fill_n(zero.begin() + 16, 4, 0);
  std::fill_n(many.begin() + 12, 4, 0xFF);
  EXPECT_TRUE(parse(overrun)->sampleDescriptionTable.empty());
  EXPECT_TRUE(parse(zero)->sampleDescriptionTable.empty());
  EXPECT_EQ(parse(many)->codecFormat, 1004);
}

TEST(SampleDescription, OnlyPcmEntriesOfVersionOneCarryBytesPerFrame) {
  const Bytes v1 = raw({1, 2, 4, 2});
  EXPECT_EQ(parse(stsd(soundEntry("sowt", 1, v1)))->getDecoder()->asAudio()->bytesPerFrame, 4u);
  EXPECT_EQ(parse(stsd(soundEntry("twos", 0, v1)))->getDecoder()->asAudio()->bytesPerFrame, 0u);
  EXPECT_EQ(parse(stsd(soundEntry("twos", 1, Bytes(v1.begin(), v1.end() - 1))))->getDecoder()->asAudio()->bytesPerFrame,
            0u);
}

TEST(Descriptors, OptionalFieldsDecideWhereTheConfigurationIs) {
  // Dependence, URL (not valid UTF-8) and OCR fields come before the nested descriptors.
  Bytes es = {0x00, 0x07, 0xE3, 0x01, 0x02, 3, 'a', 0xFF, 'b', 0x03, 0x04};
  const Bytes rest = esPayload({0x11, 0x90});
  es.insert(es.end(), rest.begin() + 3, rest.end());
  auto od = ObjectDescriptor::initObjectDescriptorWithBytes(es.data(), uint32_t(es.size()));
  EXPECT_EQ(od->URLstring,
            "a\xEF\xBF\xBD"
            "b");
  ASSERT_TRUE(od->decoderConfigDescriptor);
  EXPECT_EQ(od->decoderConfigDescriptor->avgBitrate, 128000u);
  // A decoder configuration running past the ES descriptor is left out, the ES descriptor stays.
  Bytes over = esPayload({0x11, 0x90});
  over[4] = uint8_t(over.size());
  EXPECT_EQ(
      ObjectDescriptor::initObjectDescriptorWithBytes(over.data(), uint32_t(over.size()))->decoderConfigDescriptor,
      nullptr);
}

TEST(Descriptors, OnlyWhatIsThereReachesTheAacDecoder) {
  // Inside a "wave" after a zero-sized "esds" that cannot advance the scan, as QuickTime writes.
  Bytes wave = box("wave", {box("frma", {text("mp4a")}), box("esds", {}), esds(esPayload({0x12}))});
  std::fill_n(wave.begin() + 20, 4, 0);
  auto found = parse(stsd(soundEntry("mp4a", 1, wave)));
  EXPECT_EQ(found->getAvgAudioBitRate(), 128000u);
  ASSERT_TRUE(found->decoderSpecificInfo());
  EXPECT_EQ(found->decoderSpecificInfo()->decoderSpecificInfo.size(), 1u);
  EXPECT_EQ(parse(stsd(soundEntry("mp4a", 0, esds(esPayload({})))))->decoderSpecificInfo(), nullptr);

  // ES descriptor longer than the box, of the wrong tag, of length 0, or with length bytes
  // that never end: no object descriptor.
  Bytes longer = esds(esPayload({0x11, 0x90})), wrongTag = longer, empty = longer;
  longer[13] += 1;
  wrongTag[12] = 4;
  empty[13] = 0;
  for (const Bytes& b : {longer, wrongTag, empty, box("esds", {raw({0}), Bytes{3, 0x80, 0x80, 0x80}})})
    EXPECT_EQ(EsdsDecoder::initESDSWithBytes(b.data(), uint32_t(b.size()))->objectDesc, nullptr);
}

TEST(HevcRecord, FewerThanThreeArraysOrNoArrayCountMeansNoRecord) {
  const Bytes two = hvcC(2);
  EXPECT_EQ(HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(two.data(), uint32_t(two.size()), 1, 1), nullptr);
  auto s = parse(stsd(videoEntry("hvc1", 1280, 720, two)));
  EXPECT_FALSE(s->SPS() || s->VPS());
  // Thirty bytes end just before the array count.
  const Bytes three = hvcC(3);
  EXPECT_EQ(HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(three.data(), 30, 1, 1), nullptr);
  EXPECT_TRUE(HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(three.data(), 31, 1, 1));
}

TEST(SampleTables, SyncPatternFollowsTheReferenceIntervalWithinTheTrack) {
  const std::tuple<uint32_t, uint32_t, std::vector<uint32_t>> cases[] = {
      {300, 31, {1, 31, 61, 91, 121, 151, 181, 211}},
      {10, 2, {1, 2, 3, 4}},
      {0, 31, {}},
      {100, 0, {}},
      {20, 31, {1}},  // 31, 61, ... would point past the 20th sample
      {31, 31, {1, 31}},
      {50, 1, {1}},                     // an interval of 1 would name sample 1 over and over
      {0x80000000u, 0xFFFFFFFFu, {1}},  // large intervals must not wrap around in 32 bits
  };
  for (const auto& [samples, interval, sync] : cases) {
    auto stss = Stss::initSTSSWithSampleCount(samples, interval);
    EXPECT_EQ(stss->syncSampleTable, sync) << samples << "/" << interval;
    EXPECT_EQ(stss->size, 16 + 4 * sync.size());
    EXPECT_EQ(stss->writeableData.size(), stss->size);
  }
}

TEST(SampleTables, TruncatedTablesKeepTheirCountButOnlyWholeEntries) {
  const Bytes stco = table("stco", 10, {100, 200, 300});
  auto offsets = Stco::initSTCOWithBytes(stco.data(), uint32_t(stco.size()), false);
  EXPECT_EQ(offsets->numberOfEntries, 10u);
  EXPECT_EQ(offsets->chunkOffsetTable, (std::vector<uint64_t>{100, 200, 300}));

  const Bytes stts = table("stts", 0xFFFFFFFF, {3, 512, 9});
  auto times = Stts::initSTTSWithBytes(stts.data(), uint32_t(stts.size()));
  EXPECT_EQ(times->entries.size(), 1u);
  EXPECT_EQ(times->getOneSampleDuration(), 512u);
  EXPECT_EQ(Stts::initSTTSWithBytes(stts.data(), 16)->getOneSampleDuration(), 0u);
}
