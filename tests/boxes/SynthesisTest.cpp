// Movie boxes synthesised from a reference tree and the engine's requests, checked as written:
// the bytes are walked and read back, so a writer that drops or misplaces a field is caught.

#include <gtest/gtest.h>

#include "MovieTreeBuilder.h"
#include "boxes/AtomCreationRequest.h"
#include "boxes/Ctts.h"
#include "boxes/Edts.h"
#include "boxes/Mdhd.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Moov.h"
#include "boxes/Sdtp.h"
#include "boxes/Stbl.h"
#include "boxes/Stsc.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Tkhd.h"

using namespace treebuilder;

namespace {

std::unique_ptr<Moov> parse(const Bytes& b) {
  return Moov::initMOOVWithData(b.data(), static_cast<uint32_t>(b.size()));
}

// The synthesised movie box as written: every box type in order (each container filled exactly
// by its children) and the tree read back from those bytes.
struct Written {
  std::vector<std::string> types;
  std::unique_ptr<Moov> moov;
};
Written written(const Moov& moov) {
  const Bytes data = moov.convertSelfToData();
  EXPECT_EQ(data.size(), moov.size);
  std::vector<testsupport::Box> boxes;
  EXPECT_TRUE(walk(data, boxes));
  Written w{{}, parse(data)};
  for (const auto& b : boxes) w.types.push_back(b.type);
  EXPECT_TRUE(w.moov);
  return w;
}
const Stbl& tablesOf(const Written& w, size_t track) { return *w.moov->tracks.at(track)->mdia->minf->stbl; }

const std::vector<std::string> kVideoLayout = {"trak", "tkhd", "edts", "elst", "mdia", "mdhd", "hdlr",
                                               "minf", "vmhd", "hdlr", "dinf", "dref", "stbl", "stsd"};

}  // namespace

TEST(MovieSynthesis, KeepsVideoAndSoundInReferenceOrderWithTheirDurations) {
  auto reference = parse(
      box("moov", {mvhd(600, 1), tmcdTrak(1), videoTrak(2, 30, 600, 20), soundTrak(3, "sowt", 48000, 48000, 1024)}));
  ASSERT_TRUE(reference);
  auto w = written(
      *reference->createMoovWithVideoRequest(videoRequest(600, 600, 30.0), audioRequest(20, 1024, 48000, 48000.0)));
  ASSERT_EQ(w.moov->tracks.size(), 2u);
  const Trak& video = *w.moov->tracks[0];
  const Trak& sound = *w.moov->tracks[1];
  EXPECT_EQ(video.trackType, 1);
  EXPECT_EQ(sound.trackType, 2);
  // 600 samples at 30 per second in a 600 time scale, the edit starting one sample in.
  EXPECT_EQ(w.moov->duration(), 12000u);
  EXPECT_EQ(video.tkhd->duration, 12000u);
  EXPECT_EQ(video.edts->elst->editListTable.at(0)->trackDuration, 12000u);
  EXPECT_EQ(video.edts->elst->editListTable.at(0)->mediaTime, 20u);
  // sowt: 20 chunks of 1024 frames in one constant-size entry, 20480 / 48000 s.
  EXPECT_EQ(sound.mdia->minf->stbl->stsz->sampleSize, 1u);
  EXPECT_EQ(sound.sampleCount, 20480u);
  EXPECT_EQ(sound.tkhd->duration, 256u);

  std::vector<std::string> expected = {"moov", "mvhd"};
  expected.insert(expected.end(), kVideoLayout.begin(), kVideoLayout.end());
  for (const char* type : {"stts", "stsc", "stsz", "co64", "trak", "tkhd", "mdia", "mdhd", "hdlr", "minf",
                           "smhd", "hdlr", "dinf", "dref", "stbl", "stsd", "stts", "stsc", "stsz", "co64"})
    expected.push_back(type);
  EXPECT_EQ(w.types, expected);
}

// One request carries the samples of one track: a second video track (a motion photo's still)
// or a second sound track keeps its own sample description, which does not fit those samples.
TEST(MovieSynthesis, OnlyTheFirstTrackOfEachTypeIsRebuilt) {
  auto reference = parse(box("moov", {mvhd(600, 1), videoTrak(1, 30, 600, 20), soundTrak(2, "sowt", 48000, 48000, 1024),
                                      videoTrak(3, 1, 90000, 42000), soundTrak(4, "sowt", 44100, 44100, 441)}));
  ASSERT_TRUE(reference);
  auto w = written(
      *reference->createMoovWithVideoRequest(videoRequest(60, 600, 30.0), audioRequest(20, 1024, 48000, 48000.0)));
  ASSERT_EQ(w.moov->tracks.size(), 2u);
  EXPECT_EQ(w.moov->tracks[0]->tkhd->trackID, 1u);
  EXPECT_EQ(w.moov->tracks[1]->tkhd->trackID, 2u);
  // Durations come from the first tracks alone; the left-out tracks' headers are untouched.
  EXPECT_EQ(w.moov->duration(), 1200u);
  EXPECT_EQ(w.moov->tracks[1]->tkhd->duration, 256u);
  EXPECT_EQ(reference->tracks[2]->tkhd->duration, 600u);
  EXPECT_EQ(reference->tracks[3]->tkhd->duration, 600u);

  // Without video the movie, with a complete header, lasts as long as its first sound track.
  auto sound = parse(
      box("moov", {mvhd(600, 1), soundTrak(1, "sowt", 48000, 48000, 1000), soundTrak(2, "sowt", 8000, 8000, 80)}));
  auto s = written(*sound->createMoovWithVideoRequest(AtomCreationRequest(), audioRequest(96, 1000, 48000, 48000.0)));
  ASSERT_EQ(s.moov->tracks.size(), 1u);
  EXPECT_EQ(s.moov->tracks[0]->tkhd->trackID, 1u);
  EXPECT_EQ(s.moov->duration(), 1200u);
  EXPECT_EQ(s.moov->tracks[0]->tkhd->duration, 1200u);
}

// Sample durations come from the request's time scale and rate (a rate the time scale cannot
// carry gives one unit for video, 1024 for sound, and no float-to-integer conversion of a zero
// rate); the media lasts its samples at the reference's average duration, 1001 here.
TEST(MovieSynthesis, SampleAndMediaDurations) {
  struct Case {
    AtomCreationRequest video, audio;
    uint32_t videoSample, audioSample, media;
  } cases[] = {
      {videoRequest(300, 30000, 29.97), audioRequest(1, 480, 48000, 46.875), 1001, 1024, 300300},
      {videoRequest(10, 20, 30.0), audioRequest(1, 480, 100, 200.0), 1, 1024, 10010},
      {videoRequest(10, 30000, 0.0), audioRequest(0, 0, 0, 0.0), 1, 1024, 10010},
  };
  for (const Case& c : cases) {
    auto reference =
        parse(box("moov", {mvhd(1000, 1), videoTrak(1, 30, 30000, 1001), soundTrak(2, "sowt", 48000, 4800, 480)}));
    auto w = written(*reference->createMoovWithVideoRequest(c.video, c.audio));
    const Trak& video = *w.moov->tracks[0];
    EXPECT_EQ(video.oneSampleDuration, c.videoSample);
    EXPECT_EQ(video.edts->elst->editListTable.at(0)->mediaTime, c.videoSample);
    EXPECT_EQ(w.moov->tracks[1]->oneSampleDuration, c.audioSample);
    EXPECT_EQ(video.mdia->mdhd->duration, c.media);
    EXPECT_EQ(video.mdia->mdhd->timescale, 30000u);
    EXPECT_EQ(video.mdia->mdhd->language, 0x55C4);
  }
  // A reference track of no samples has no average: the new time-to-sample total is used.
  auto empty = parse(box("moov", {mvhd(600, 1), videoTrak(1, 0, 30000, 1001)}));
  auto w = written(*empty->createMoovWithVideoRequest(videoRequest(10, 30000, 29.97), AtomCreationRequest()));
  EXPECT_EQ(w.moov->tracks[0]->mdia->mdhd->duration, 10010u);
}

TEST(MovieSynthesis, VideoTablesFollowTheReference) {
  // The composition table announces 5 runs and holds 3: reused, it counts the 3 it writes.
  auto reference = parse(
      box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20,
                                           {table("stss", 3, {1, 31, 61}), table("ctts", 5, {1, 40, 1, 0, 88, 20}),
                                            box("sdtp", {raw({0}), Bytes{0x20, 0x10}})})}));
  ASSERT_TRUE(reference);
  auto w = written(*reference->createMoovWithVideoRequest(videoRequest(300, 600, 30.0), AtomCreationRequest()));
  const Stbl& t = tablesOf(w, 0);
  EXPECT_EQ(t.stss->syncSampleTable, (std::vector<uint32_t>{1, 31, 61, 91, 121, 151, 181, 211}));
  EXPECT_EQ(t.ctts->numberOfEntries, 3u);
  EXPECT_EQ(t.ctts->compositionOffsetTable.at(2).sampleCount, 88u);
  ASSERT_EQ(t.sdtp->Data.size(), 300u);
  EXPECT_EQ(t.sdtp->Data[2], 0x20);
  std::vector<std::string> expected = {"moov", "mvhd"};
  expected.insert(expected.end(), kVideoLayout.begin(), kVideoLayout.end());
  for (const char* type : {"stss", "ctts", "stts", "stsc", "stsz", "co64", "sdtp"}) expected.push_back(type);
  EXPECT_EQ(w.types, expected);

  // A single composition offset run, no sync table and an empty dependency table: none of them.
  auto sparse = parse(
      box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20, {table("ctts", 1, {90, 20}), box("sdtp", {raw({0})})})}));
  auto s = written(*sparse->createMoovWithVideoRequest(videoRequest(30, 600, 30.0), AtomCreationRequest()));
  EXPECT_FALSE(tablesOf(s, 0).ctts);
  EXPECT_FALSE(tablesOf(s, 0).stss);
  EXPECT_FALSE(tablesOf(s, 0).sdtp);
}

TEST(MovieSynthesis, EngineTablesReplaceTheReferencePatterns) {
  auto reference =
      parse(box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20,
                                                 {table("stss", 2, {1, 31}), table("ctts", 2, {1, 40, 89, 20}),
                                                  box("sdtp", {raw({0}), Bytes{0x20}})})}));
  AtomCreationRequest video = videoRequest(6, 600, 30.0);
  video.syncSamples = std::vector<uint32_t>{1, 4};
  video.compositionOffsets = std::vector<qvr::CompositionOffsetRun>{{1, 40}, {2, 0}, {3, 20}};
  video.sdtpData = std::vector<uint8_t>{0x20, 0x10, 0x10, 0x20, 0x10, 0x10};
  video.editMediaTime = 40;
  auto w = written(*reference->createMoovWithVideoRequest(video, AtomCreationRequest()));
  const Stbl& t = tablesOf(w, 0);
  EXPECT_EQ(t.stss->syncSampleTable, (std::vector<uint32_t>{1, 4}));
  ASSERT_EQ(t.ctts->compositionOffsetTable.size(), 3u);
  EXPECT_EQ(t.ctts->compositionOffsetTable[1].sampleCount, 2u);
  EXPECT_EQ(t.sdtp->Data, *video.sdtpData);
  EXPECT_EQ(w.moov->tracks[0]->edts->elst->editListTable.at(0)->mediaTime, 40u);

  // An empty list of sync samples is written as such: no frame can be started from.
  video.syncSamples = std::vector<uint32_t>{};
  auto none = written(*reference->createMoovWithVideoRequest(video, AtomCreationRequest()));
  ASSERT_TRUE(tablesOf(none, 0).stss);
  EXPECT_TRUE(tablesOf(none, 0).stss->syncSampleTable.empty());
}

TEST(MovieSynthesis, PcmCountsEveryChunkByItsOwnRun) {
  auto reference =
      parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20), soundTrak(2, "sowt", 48000, 4800, 1024)}));
  AtomCreationRequest audio = audioRequest(5, 1024, 48000, 48000.0);
  audio.stscEntries.push_back(SampleToChunkEntery::initWithFirstChunk(5, 100, 1));  // a short last chunk
  auto w = written(*reference->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), audio));
  EXPECT_EQ(tablesOf(w, 1).stsz->numberOfEntries, 4u * 1024 + 100);
  EXPECT_EQ(tablesOf(w, 1).stsc->SampleToChunkTable.size(), 2u);

  // twos without runs of its own keeps the reference's table, written with the one run it
  // holds of the 3 it announces.
  const Bytes twos = trak(2, 44100, 44100, "soun", smhd(),
                          box("stbl", {stsd(soundEntry("twos")), stts(44100, 1), stszConstant(1, 44100),
                                       table("stsc", 3, {1, 2000, 1}), table("stco", 1, {48})}));
  auto reference2 = parse(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20), twos}));
  ASSERT_TRUE(reference2);
  AtomCreationRequest bare = audioRequest(3, 0, 44100, 44100.0);
  bare.stscEntries.clear();
  auto w2 = written(*reference2->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), bare));
  EXPECT_EQ(tablesOf(w2, 1).stsc->numberOfEntries, 1u);
  EXPECT_EQ(tablesOf(w2, 1).stsz->numberOfEntries, 6000u);
}

TEST(MovieSynthesis, NoTracksOrNoMovieHeaderGiveNone) {
  EXPECT_FALSE(parse(box("moov", {mvhd(600, 1)}))->createMoovWithVideoRequest({}, {}));
  auto headless = parse(box("moov", {videoTrak(1, 10, 600, 20)}));
  ASSERT_TRUE(headless);
  EXPECT_FALSE(headless->createMoovWithVideoRequest(videoRequest(1, 600, 30), {}));
}
