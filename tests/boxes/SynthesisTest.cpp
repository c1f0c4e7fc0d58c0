#include <gtest/gtest.h>

#include <algorithm>

#include "MovieTreeBuilder.h"
#include "boxes/AtomCreationRequest.h"
#include "boxes/Ctts.h"
#include "boxes/Edts.h"
#include "boxes/Mdhd.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Moov.h"
#include "boxes/Mvhd.h"
#include "boxes/Sdtp.h"
#include "boxes/Stbl.h"
#include "boxes/Stsc.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/Tkhd.h"
#include "foundation/FileHandle.h"
#include "support/TestSupport.h"

using namespace treebuilder;

namespace {

std::unique_ptr<Moov> parse(const Bytes& b) {
  return Moov::initMOOVWithData(b.data(), static_cast<uint32_t>(b.size()));
}

const Stbl& tableOf(const Trak& t) { return *t.mdia->minf->stbl; }

// Serialises the movie box and checks that every container agrees with its children.
std::vector<std::string> layoutOf(const Moov& moov) {
  Bytes data = moov.convertSelfToData();
  EXPECT_EQ(data.size(), moov.size);
  std::vector<boxwalk::Box> boxes;
  EXPECT_TRUE(boxwalk::walk(data.data(), 0, data.size(), boxes));
  std::vector<std::string> types;
  for (const auto& b : boxes) types.push_back(b.type);
  return types;
}

}  // namespace

TEST(MovieSynthesis, KeepsVideoAndAudioInReferenceOrderWithTheirDurations) {
  auto reference = parse(
      box("moov", {mvhd(600, 1), tmcdTrak(1), videoTrak(2, 30, 600, 20), soundTrak(3, "sowt", 48000, 48000, 1024)}));
  ASSERT_TRUE(reference);
  auto moov =
      reference->createMoovWithVideoRequest(videoRequest(600, 600, 30.0), audioRequest(20, 1024, 48000, 48000.0));
  ASSERT_TRUE(moov);
  ASSERT_EQ(moov->tracks.size(), 2u);
  const Trak& video = *moov->tracks[0];
  const Trak& audio = *moov->tracks[1];
  EXPECT_EQ(video.trackType, 1);
  EXPECT_EQ(audio.trackType, 2);

  // 600 samples at 30 per second in a 600 time scale.
  EXPECT_EQ(moov->mvhd->duration, 12000u);
  EXPECT_EQ(video.tkhd->duration, 12000u);
  EXPECT_EQ(moov->mvhd, reference->mvhd);  // shared, not copied
  EXPECT_EQ(video.tkhd, reference->tracks[1]->tkhd);
  ASSERT_TRUE(video.edts);
  EXPECT_EQ(video.edts->elst->editListTable[0]->trackDuration, 12000u);
  EXPECT_EQ(video.edts->elst->editListTable[0]->mediaTime, 20u);  // one sample: 600 / 30
  EXPECT_FALSE(audio.edts);

  // sowt: 20 chunks of 1024 frames, one constant-size table entry.
  const Stsz& pcm = *tableOf(audio).stsz;
  EXPECT_EQ(pcm.sampleSize, 1u);
  EXPECT_EQ(pcm.numberOfEntries, 20480u);
  EXPECT_EQ(pcm.size, 20u);
  EXPECT_EQ(audio.tkhd->duration, 256u);  // 20480 / 48000 x 600

  std::vector<std::string> types = layoutOf(*moov);
  const std::vector<std::string> expected = {"moov", "mvhd", "trak", "tkhd", "edts", "elst", "mdia", "mdhd", "hdlr",
                                             "minf", "vmhd", "hdlr", "dinf", "dref", "stbl", "stsd", "stts", "stsc",
                                             "stsz", "co64", "trak", "tkhd", "mdia", "mdhd", "hdlr", "minf", "smhd",
                                             "hdlr", "dinf", "dref", "stbl", "stsd", "stts", "stsc", "stsz", "co64"};
  EXPECT_EQ(types, expected);
}

// One request carries the samples of one track: a second video track (a motion photo's still)
// or a second sound track keeps its own sample description, which does not fit those samples.
TEST(MovieSynthesis, OnlyTheFirstTrackOfEachTypeIsRebuilt) {
  auto reference = parse(box("moov", {mvhd(600, 1), videoTrak(1, 30, 600, 20), soundTrak(2, "sowt", 48000, 48000, 1024),
                                      videoTrak(3, 1, 90000, 42000), soundTrak(4, "sowt", 44100, 44100, 441)}));
  ASSERT_TRUE(reference);
  ASSERT_EQ(reference->tracks.size(), 4u);
  const uint64_t stillDuration = reference->tracks[2]->tkhd->duration;
  const uint64_t secondSoundDuration = reference->tracks[3]->tkhd->duration;

  auto moov =
      reference->createMoovWithVideoRequest(videoRequest(60, 600, 30.0), audioRequest(20, 1024, 48000, 48000.0));
  ASSERT_TRUE(moov);
  ASSERT_EQ(moov->tracks.size(), 2u);
  EXPECT_EQ(moov->tracks[0]->trackType, 1);
  EXPECT_EQ(moov->tracks[0]->tkhd, reference->tracks[0]->tkhd);
  EXPECT_EQ(moov->tracks[1]->trackType, 2);
  EXPECT_EQ(moov->tracks[1]->tkhd, reference->tracks[1]->tkhd);

  // Durations come from the first tracks alone; the left-out tracks' headers are untouched.
  EXPECT_EQ(moov->mvhd->duration, 1200u);  // 60 samples at 30 per second in a 600 time scale
  EXPECT_EQ(moov->tracks[0]->tkhd->duration, 1200u);
  EXPECT_EQ(moov->tracks[1]->tkhd->duration, 256u);  // 20480 frames at 48 kHz
  EXPECT_EQ(reference->tracks[2]->tkhd->duration, stillDuration);
  EXPECT_EQ(reference->tracks[3]->tkhd->duration, secondSoundDuration);

  std::vector<std::string> types = layoutOf(*moov);
  EXPECT_EQ(std::count(types.begin(), types.end(), "trak"), 2);
  EXPECT_EQ(std::count(types.begin(), types.end(), "stsd"), 2);
}

// A sound-only reference with two sound tracks: one rebuilt track, and the movie lasts as long
// as it, with a complete movie header.
TEST(MovieSynthesis, SoundOnlyReferenceRebuildsItsFirstSoundTrack) {
  auto reference = parse(
      box("moov", {mvhd(600, 1), soundTrak(1, "sowt", 48000, 48000, 1000), soundTrak(2, "sowt", 8000, 8000, 80)}));
  ASSERT_TRUE(reference);
  auto moov = reference->createMoovWithVideoRequest(AtomCreationRequest(), audioRequest(96, 1000, 48000, 48000.0));
  ASSERT_TRUE(moov);
  ASSERT_EQ(moov->tracks.size(), 1u);
  EXPECT_EQ(moov->tracks[0]->tkhd, reference->tracks[0]->tkhd);
  ASSERT_EQ(moov->mvhd->writeableData.size(), 108u);
  EXPECT_EQ(moov->mvhd->duration, 1200u);  // 96000 frames at 48 kHz in a 600 time scale
  EXPECT_EQ(moov->tracks[0]->tkhd->duration, 1200u);
  layoutOf(*moov);
}

TEST(MovieSynthesis, SampleDurationsComeFromTheRequest) {
  auto reference =
      parse(box("moov", {mvhd(1000, 1), videoTrak(1, 30, 30000, 1001), soundTrak(2, "sowt", 48000, 4800, 480)}));
  ASSERT_TRUE(reference);
  auto moov =
      reference->createMoovWithVideoRequest(videoRequest(10, 30000, 29.97), audioRequest(1, 480, 48000, 46.875));
  ASSERT_TRUE(moov);
  EXPECT_EQ(moov->tracks[0]->oneSampleDuration, 1001u);
  EXPECT_EQ(moov->tracks[0]->edts->elst->editListTable[0]->mediaTime, 1001u);
  EXPECT_EQ(moov->tracks[1]->oneSampleDuration, 1024u);

  // A rate above the time scale truncates to 0: one unit for video, 1024 for audio.
  auto reference2 =
      parse(box("moov", {mvhd(1000, 1), videoTrak(1, 30, 30000, 1001), soundTrak(2, "sowt", 48000, 4800, 480)}));
  auto fallback = reference2->createMoovWithVideoRequest(videoRequest(10, 20, 30.0), audioRequest(1, 480, 100, 200.0));
  EXPECT_EQ(fallback->tracks[0]->oneSampleDuration, 1u);
  EXPECT_EQ(fallback->tracks[1]->oneSampleDuration, 1024u);

  // A zero or unusable rate must not reach a float-to-integer conversion.
  auto reference3 = parse(box("moov", {mvhd(1000, 1), videoTrak(1, 30, 30000, 1001)}));
  auto zero = reference3->createMoovWithVideoRequest(videoRequest(10, 30000, 0.0), audioRequest(0, 0, 0, 0.0));
  EXPECT_EQ(zero->tracks[0]->oneSampleDuration, 1u);
}

TEST(MovieSynthesis, MediaDurationIsNSamplesAtTheReferenceAverage) {
  // Reference: 30 samples over 30030 units of 30000: 29.97 per second.
  auto reference = parse(box("moov", {mvhd(600, 1), videoTrak(1, 30, 30000, 1001)}));
  auto moov = reference->createMoovWithVideoRequest(videoRequest(300, 30000, 29.97), AtomCreationRequest());
  const Mdhd& header = *moov->tracks[0]->mdia->mdhd;
  EXPECT_EQ(header.timescale, 30000u);
  EXPECT_EQ(header.duration, 300300u);
  EXPECT_EQ(header.language, 0x55C4);
  EXPECT_EQ(header.writeableData.size(), 32u);

  // A reference track of no samples has no average: the new time-to-sample total is used.
  auto empty = parse(box("moov", {mvhd(600, 1), videoTrak(1, 0, 30000, 1001)}));
  auto fromEmpty = empty->createMoovWithVideoRequest(videoRequest(10, 30000, 29.97), AtomCreationRequest());
  EXPECT_EQ(fromEmpty->tracks[0]->mdia->mdhd->duration, 10010u);
}

TEST(MovieSynthesis, VideoTablesFollowTheReference) {
  Bytes withTables = videoTrak(1, 90, 600, 20,
                               {table("stss", 3, {1, 31, 61}), table("ctts", 3, {1, 40, 1, 0, 88, 20}),
                                box("sdtp", {raw({0}), Bytes{0x20, 0x10}})});
  auto reference = parse(box("moov", {mvhd(600, 1), withTables}));
  ASSERT_TRUE(reference);
  auto moov = reference->createMoovWithVideoRequest(videoRequest(300, 600, 30.0), AtomCreationRequest());
  const Stbl& table = tableOf(*moov->tracks[0]);
  ASSERT_TRUE(table.stss);
  EXPECT_EQ(table.stss->syncSampleTable, (std::vector<uint32_t>{1, 31, 61, 91, 121, 151, 181, 211}));
  EXPECT_EQ(table.ctts, tableOf(*reference->tracks[0]).ctts);
  ASSERT_TRUE(table.sdtp);
  EXPECT_EQ(table.sdtp->Data.size(), 300u);
  EXPECT_EQ(table.sdtp->Data[2], 0x20);
  EXPECT_EQ(layoutOf(*moov), (std::vector<std::string>{"moov", "mvhd", "trak", "tkhd", "edts", "elst", "mdia", "mdhd",
                                                       "hdlr", "minf", "vmhd", "hdlr", "dinf", "dref", "stbl", "stsd",
                                                       "stss", "ctts", "stts", "stsc", "stsz", "co64", "sdtp"}));

  // A single composition offset run, no sync table and an empty dependency table: none of them.
  Bytes sparse = videoTrak(1, 90, 600, 20, {treebuilder::table("ctts", 1, {90, 20}), box("sdtp", {raw({0})})});
  auto reference2 = parse(box("moov", {mvhd(600, 1), sparse}));
  auto moov2 = reference2->createMoovWithVideoRequest(videoRequest(30, 600, 30.0), AtomCreationRequest());
  const Stbl& table2 = tableOf(*moov2->tracks[0]);
  EXPECT_FALSE(table2.ctts);
  EXPECT_FALSE(table2.stss);
  EXPECT_FALSE(table2.sdtp);
  layoutOf(*moov2);
}

TEST(MovieSynthesis, ReusedTruncatedCompositionTableCountsWhatItWrites) {
  // Announces 5 runs, holds 3: written with 3 and a size that agrees.
  Bytes truncated = box("ctts", {raw({0, 5, 1, 40, 1, 0, 88, 20})});
  auto reference = parse(box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20, {truncated})}));
  ASSERT_TRUE(reference);
  auto moov = reference->createMoovWithVideoRequest(videoRequest(30, 600, 30.0), AtomCreationRequest());
  const Ctts& reused = *tableOf(*moov->tracks[0]).ctts;
  ASSERT_EQ(reused.writeableData.size(), 40u);
  EXPECT_EQ(be32(reused.writeableData.data()), 40u);
  EXPECT_EQ(be32(reused.writeableData.data() + 12), 3u);
  layoutOf(*moov);
}

TEST(MovieSynthesis, EngineTablesReplaceTheReferencePatterns) {
  Bytes withTables =
      videoTrak(1, 90, 600, 20,
                {table("stss", 2, {1, 31}), table("ctts", 2, {1, 40, 89, 20}), box("sdtp", {raw({0}), Bytes{0x20}})});
  auto reference = parse(box("moov", {mvhd(600, 1), withTables}));
  AtomCreationRequest video = videoRequest(6, 600, 30.0);
  video.syncSamples = std::vector<uint32_t>{1, 4};
  video.compositionOffsets = std::vector<qvr::CompositionOffsetRun>{{1, 40}, {2, 0}, {3, 20}};
  video.sdtpData = std::vector<uint8_t>{0x20, 0x10, 0x10, 0x20, 0x10, 0x10};
  video.editMediaTime = 40;
  auto moov = reference->createMoovWithVideoRequest(video, AtomCreationRequest());
  const Trak& track = *moov->tracks[0];
  const Stbl& table = tableOf(track);
  EXPECT_EQ(table.stss->syncSampleTable, (std::vector<uint32_t>{1, 4}));
  ASSERT_EQ(table.ctts->compositionOffsetTable.size(), 3u);
  EXPECT_EQ(table.ctts->compositionOffsetTable[1].sampleCount, 2u);
  EXPECT_EQ(table.sdtp->Data, *video.sdtpData);
  EXPECT_EQ(track.edts->elst->editListTable[0]->mediaTime, 40u);
  layoutOf(*moov);

  // An empty list of sync samples is written as such: no frame can be started from.
  auto reference2 = parse(box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20)}));
  AtomCreationRequest none = videoRequest(6, 600, 30.0);
  none.syncSamples = std::vector<uint32_t>{};
  auto moov2 = reference2->createMoovWithVideoRequest(none, AtomCreationRequest());
  ASSERT_TRUE(tableOf(*moov2->tracks[0]).stss);
  EXPECT_TRUE(tableOf(*moov2->tracks[0]).stss->syncSampleTable.empty());
}

TEST(MovieSynthesis, PcmCountsEveryChunkByItsOwnRun) {
  auto reference =
      parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20), soundTrak(2, "sowt", 48000, 4800, 1024)}));
  AtomCreationRequest audio = audioRequest(5, 1024, 48000, 48000.0);
  audio.stscEntries.push_back(SampleToChunkEntery::initWithFirstChunk(5, 100, 1));  // a short last chunk
  auto moov = reference->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), audio);
  EXPECT_EQ(tableOf(*moov->tracks[1]).stsz->numberOfEntries, 4u * 1024 + 100);
  EXPECT_EQ(tableOf(*moov->tracks[1]).stsc->SampleToChunkTable.size(), 2u);

  // twos without runs of its own keeps the reference's table, written with its present entries.
  Bytes truncatedStsc = box("stsc", {raw({0, 3, 1, 2000, 1})});  // announces 3 runs, holds 1
  Bytes twos = trak(2, 44100, 44100, "soun", smhd(),
                    box("stbl", {stsd(soundEntry("twos")), stts(44100, 1), stszConstant(1, 44100), truncatedStsc,
                                 table("stco", 1, {48})}));
  auto reference2 = parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20), twos}));
  ASSERT_TRUE(reference2);
  AtomCreationRequest bare = audioRequest(3, 0, 44100, 44100.0);
  bare.stscEntries.clear();
  auto moov2 = reference2->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), bare);
  const Stbl& table = tableOf(*moov2->tracks[1]);
  EXPECT_EQ(table.stsc->numberOfEntries, 1u);
  EXPECT_EQ(table.stsc->writeableData.size(), 28u);
  EXPECT_EQ(table.stsz->numberOfEntries, 6000u);
  layoutOf(*moov2);
}

TEST(MovieSynthesis, NoTracksOrNoMovieHeaderGiveNone) {
  auto bare = parse(box("moov", {mvhd(600, 1)}));
  EXPECT_FALSE(bare->createMoovWithVideoRequest(AtomCreationRequest(), AtomCreationRequest()));
  auto headless = parse(box("moov", {videoTrak(1, 10, 600, 20)}));
  ASSERT_TRUE(headless);
  EXPECT_FALSE(headless->createMoovWithVideoRequest(videoRequest(1, 600, 30), AtomCreationRequest()));
}

TEST(MovieSynthesis, WritesTheMovieBoxAtTheEndOfTheFile) {
  auto reference = parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20)}));
  auto moov = reference->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), AtomCreationRequest());
  testsupport::TempDir dir;
  auto out = qvr::WriteHandle::create(dir.file("out.mov"));
  const Bytes mdat = box("mdat", {Bytes(40, 7)});
  ASSERT_TRUE(out->write(mdat));
  ASSERT_TRUE(moov->writeToFileHandle(*out));
  ASSERT_TRUE(out->commit());
  Bytes file = testsupport::readFile(dir.file("out.mov"));
  Bytes expected = mdat;
  append(expected, moov->convertSelfToData());
  EXPECT_EQ(file, expected);
}
