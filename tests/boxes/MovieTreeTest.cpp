#include <gtest/gtest.h>

#include "MovieTreeBuilder.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Moov.h"
#include "boxes/Mvhd.h"
#include "boxes/Stbl.h"
#include "boxes/Tkhd.h"
#include "boxes/Udta.h"

using namespace treebuilder;

namespace {

std::unique_ptr<Moov> parse(const Bytes& b) {
  return Moov::initMOOVWithData(b.data(), static_cast<uint32_t>(b.size()));
}

// A movie box of a 25 fps video track (timescale 12800), a 48 kHz sowt track and a timecode
// track, in that order.
Bytes threeTrackMovie() {
  return box("moov", {mvhd(600, 1200), videoTrak(1, 50, 12800, 512), sowtTrak(2, 48000, 96000, 2000), tmcdTrak(3)});
}

}  // namespace

TEST(MovieTree, ReadsTracksAndDerivedValues) {
  auto moov = parse(threeTrackMovie());
  ASSERT_TRUE(moov);
  ASSERT_EQ(moov->tracks.size(), 3u);
  EXPECT_EQ(moov->duration(), 1200u);

  const Trak& video = *moov->tracks[0];
  EXPECT_EQ(video.trackType, 1);
  EXPECT_EQ(video.trackCodecFormat, 1001);
  EXPECT_EQ(video.trakMediaTimeScale, 12800u);
  EXPECT_EQ(video.sampleCount, 50u);
  EXPECT_EQ(video.oneSampleDuration, 512u);
  EXPECT_DOUBLE_EQ(video.trakFPS, 25.0);
  ASSERT_TRUE(video.trackDecoder);

  EXPECT_EQ(moov->tracks[1]->trackType, 2);
  EXPECT_EQ(moov->tracks[2]->trackType, -1);
  EXPECT_EQ(moov->tracks[2]->mdia->minf->minfMediaType, -1);

  EXPECT_EQ(moov->getVideoCodecFormat(), 1001);
  EXPECT_EQ(moov->getAudioCodecFormat(), 1003);
  EXPECT_DOUBLE_EQ(moov->videoTrackFPS(), 25.0);
  EXPECT_DOUBLE_EQ(moov->audioTrackFPS(), 48000.0);
  EXPECT_EQ(moov->videoTrackTimeScale(), 12800u);
  EXPECT_EQ(moov->audioTrackTimeScale(), 48000u);
  EXPECT_EQ(moov->getAVCOneNALUSizeLength(), 4);
  EXPECT_EQ(moov->getResolution(), "320x240");
  EXPECT_EQ(moov->getOneSampleDurationOfTackType(2), 1u);
  EXPECT_EQ(moov->getTrakWithType(-1), moov->tracks[2].get());
  // Not AAC: no frame sizes and no decoder configuration.
  EXPECT_EQ(moov->getAverageAudioSize(), 0u);
  EXPECT_EQ(moov->aacSampleMean(), 0u);
  EXPECT_TRUE(moov->decodeSpecificInfo().empty());
  // Only the third and later tracks count: 4 bytes x 1 sample per chunk.
  EXPECT_EQ(moov->getSampleSkip(), 4u);
}

TEST(MovieTree, MissingLinksGiveZeroOrNone) {
  auto moov = parse(box("moov", {mvhd(600, 0), sowtTrak(1, 44100, 100, 100)}));
  ASSERT_TRUE(moov);
  EXPECT_EQ(moov->getResolution(), "Missing");
  EXPECT_EQ(moov->getVideoCodecFormat(), 0);
  EXPECT_EQ(moov->videoTrackFPS(), 0.0);
  EXPECT_EQ(moov->getAVCOneNALUSizeLength(), 0);
  EXPECT_FALSE(moov->SPS());
  EXPECT_FALSE(moov->VPS());
  EXPECT_FALSE(moov->getTrackDecoderWith(1));
  EXPECT_EQ(moov->getSampleSkip(), 0u);

  auto empty = parse(box("moov", {}));
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->tracks.empty());
  EXPECT_EQ(empty->duration(), 0u);
  EXPECT_FALSE(Moov::initMOOVWithData(nullptr, 100));
}

TEST(MovieTree, SowtRateIsWholeSamplesPerSecond) {
  // 441007 samples over 10 s of a 44100 Hz time scale: 44100.7 per second.
  auto moov =
      parse(box("moov", {mvhd(600, 6000), trak(1, 6000, 44100, 441000, "soun", smhd(),
                                               box("stbl", {stsd(soundEntry("sowt", 2, 44100)), stts(441007, 1),
                                                            stszConstant(1, 441007), stsc(1024), stco({48})}))}));
  ASSERT_TRUE(moov);
  EXPECT_DOUBLE_EQ(moov->audioTrackFPS(), 44100.0);
}

TEST(SampleTableCompleteness, UnknownChildRejectsTheWholeMovie) {
  Bytes stsh = box("stsh", {raw({0, 0})});
  EXPECT_FALSE(parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20, {stsh}), sowtTrak(2, 48000, 4800, 4800)})));

  // Known boxes the repair does not read are accepted and counted.
  Bytes free = box("free", {raw({0, 0, 0})});
  Bytes skip = box("skip", {});
  Bytes sgpd = box("sgpd", {raw({0x01000000, 0x726F6C6C, 2, 1, 0})});
  auto moov = parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20, {free, skip, sgpd})}));
  ASSERT_TRUE(moov);
  const Stbl& stbl = *moov->tracks[0]->mdia->minf->stbl;
  EXPECT_EQ(stbl.testSize + 8, stbl.size);
}

TEST(SampleTableCompleteness, ChildrenMayNotReachPastTheTable) {
  // The last child's declared size runs 4 bytes past the table: it is not accepted, so the
  // sizes no longer add up.
  Bytes table = box("stbl", {stsd(avc1Entry(16, 16)), stts(1, 1)});
  table[table.size() - 24 + 3] += 4;  // stts size 24 -> 28
  EXPECT_FALSE(Stbl::initSTBLWithBytes(table.data(), static_cast<uint32_t>(table.size())));
  Bytes empty = box("stbl", {});
  EXPECT_TRUE(Stbl::initSTBLWithBytes(empty.data(), 8));
}

TEST(ChildScan, CrossesUuidAndFindsTracksInsideUnknownBoxes) {
  Bytes uuid = box("uuid", {Bytes(16, 0xAB), videoTrak(9, 5, 600, 20)});  // a trak hidden in a uuid
  auto withUuid = parse(box("moov", {mvhd(600, 1), uuid, videoTrak(1, 10, 600, 20)}));
  ASSERT_TRUE(withUuid);
  ASSERT_EQ(withUuid->tracks.size(), 1u);
  EXPECT_EQ(withUuid->tracks[0]->sampleCount, 10u);

  Bytes wrapper = box("wrap", {raw({1, 2}), videoTrak(7, 5, 600, 20)});
  auto nested = parse(box("moov", {mvhd(600, 1), wrapper, sowtTrak(2, 48000, 480, 480)}));
  ASSERT_TRUE(nested);
  ASSERT_EQ(nested->tracks.size(), 2u);
  EXPECT_EQ(nested->tracks[0]->tkhd->trackID, 7u);
}

TEST(ChildScan, FirstChildOfATrackIsItsHeaderWhateverItsType) {
  Bytes track = videoTrak(3, 10, 600, 20);
  std::copy_n("xxxx", 4, track.begin() + 12);  // rename "tkhd"
  auto moov = parse(box("moov", {mvhd(600, 1), track}));
  ASSERT_TRUE(moov);
  EXPECT_EQ(moov->tracks[0]->tkhd->trackID, 3u);

  // An oversized first child leaves the track without media: the movie is none.
  Bytes oversized = videoTrak(3, 10, 600, 20);
  oversized[8] = 0x7F;
  EXPECT_FALSE(parse(box("moov", {mvhd(600, 1), oversized})));
  // Exactly the track's size is oversized too: it starts 8 bytes in.
  Bytes exact = videoTrak(3, 10, 600, 20);
  std::copy_n(exact.begin(), 4, exact.begin() + 8);
  EXPECT_FALSE(parse(box("moov", {mvhd(600, 1), exact})));
}

TEST(ChildScan, MediaInformationWithoutSampleTableIsNone) {
  Bytes minf = box("minf", {vmhd(), dinf()});
  EXPECT_FALSE(Minf::initMINFWithBytes(minf.data(), static_cast<uint32_t>(minf.size())));
  Bytes mdia = box("mdia", {mdhd(600, 10), hdlr("mhlr", "vide"), minf});
  EXPECT_FALSE(Mdia::initMDIAWithBytes(mdia.data(), static_cast<uint32_t>(mdia.size())));
  // A media information box whose first child is no media header still parses, type 0.
  Bytes headless = box("minf", {dinf(), box("stbl", {})});
  auto m = Minf::initMINFWithBytes(headless.data(), static_cast<uint32_t>(headless.size()));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->minfMediaType, 0);
  EXPECT_TRUE(m->dinf);
}

TEST(ChildScan, MediaTypeFallsBackToTheMediaHeader) {
  // Handler subtype unknown: the minf's sound media header decides.
  Bytes track = trak(1, 600, 48000, 48000, "xxxx", smhd(),
                     box("stbl", {stsd(soundEntry("twos", 1, 48000)), stts(48000, 1), stszConstant(1, 48000),
                                  stsc(1000), stco({48})}));
  auto moov = parse(box("moov", {mvhd(600, 600), track}));
  ASSERT_TRUE(moov);
  EXPECT_EQ(moov->tracks[0]->trackType, 2);
  EXPECT_EQ(moov->getAudioCodecFormat(), 1004);
}

TEST(UserData, LastFoundAnywhereWins) {
  Bytes movieUdta = box("udta", {box("manu", {Bytes{'A'}})});
  Bytes tableUdta = box("udta", {box("manu", {Bytes{'B'}})});
  Bytes track = videoTrak(1, 10, 600, 20, {tableUdta});
  auto moov = parse(box("moov", {mvhd(600, 1), movieUdta, track}));
  ASSERT_TRUE(moov);
  ASSERT_TRUE(moov->udta);
  EXPECT_EQ(moov->udta->manufacture, "B");
  EXPECT_EQ(moov->tracks[0]->udta, moov->udta);
  EXPECT_EQ(moov->tracks[0]->mdia->udta, moov->udta);

  auto first = parse(box("moov", {mvhd(600, 1), track, movieUdta}));
  EXPECT_EQ(first->udta->manufacture, "A");
}
