// Movie boxes synthesised from a reference tree and the engine's requests, checked as written:
// the bytes are walked and read back, so a writer that drops or misplaces a field is caught.

#include "MovieTreeBuilder.h"

using namespace treebuilder;

namespace {

// The synthesised movie box as written, each container filled exactly by its children, and read
// back from those bytes.
std::unique_ptr<Moov> written(const Moov& moov) {
  const Bytes data = moov.convertSelfToData();
  EXPECT_EQ(data.size(), moov.size);
  std::vector<testsupport::Box> boxes;
  EXPECT_TRUE(walk(data, boxes));
  auto back = parseMoov(data);
  EXPECT_TRUE(back);
  return back;
}
const Stbl& tablesOf(const std::unique_ptr<Moov>& moov, size_t track) {
  return *moov->tracks.at(track)->mdia->minf->stbl;
}

}  // namespace

TEST(MovieSynthesis, KeepsVideoAndSoundInReferenceOrderWithTheirDurations) {
  auto reference = parseMoov(
      box("moov", {mvhd(600, 1), tmcdTrak(1), videoTrak(2, 30, 600, 20), soundTrak(3, "sowt", 48000, 48000, 1024)}));
  ASSERT_TRUE(reference);
  auto moov = written(
      *reference->createMoovWithVideoRequest(videoRequest(600, 600, 30.0), audioRequest(20, 1024, 48000, 48000.0)));
  ASSERT_EQ(moov->tracks.size(), 2u);
  const Trak& video = *moov->tracks[0];
  const Trak& sound = *moov->tracks[1];
  // Handlers and media headers of a video and a sound track.
  EXPECT_EQ(
      std::tuple(video.trackType, video.mdia->minf->minfMediaType, sound.trackType, sound.mdia->minf->minfMediaType),
      (std::tuple<int64_t, int64_t, int64_t, int64_t>(1, 1, 2, 2)));
  EXPECT_EQ(video.mdia->minf->dinf->dref->entries.size(), 1u);
  // 600 samples at 30 per second in a 600 time scale, the edit starting one sample in.
  EXPECT_EQ(moov->duration(), 12000u);
  EXPECT_EQ(video.tkhd->duration, 12000u);
  EXPECT_EQ(video.edts->elst->editListTable.at(0)->trackDuration, 12000u);
  EXPECT_EQ(video.edts->elst->editListTable.at(0)->mediaTime, 20u);
  EXPECT_FALSE(sound.edts);
  // sowt: 20 chunks of 1024 frames in one constant-size entry, 20480 / 48000 s.
  EXPECT_EQ(sound.mdia->minf->stbl->stsz->sampleSize, 1u);
  EXPECT_EQ(sound.sampleCount, 20480u);
  EXPECT_EQ(sound.tkhd->duration, 256u);
}

// One request carries the samples of one track: a second video track (a motion photo's still)
// or a second sound track keeps its own sample description, which does not fit those samples.
TEST(MovieSynthesis, OnlyTheFirstTrackOfEachTypeIsRebuilt) {
  auto reference =
      parseMoov(box("moov", {mvhd(600, 1), videoTrak(1, 30, 600, 20), soundTrak(2, "sowt", 48000, 48000, 1024),
                             videoTrak(3, 1, 90000, 42000), soundTrak(4, "sowt", 44100, 44100, 441)}));
  ASSERT_TRUE(reference);
  auto moov = written(
      *reference->createMoovWithVideoRequest(videoRequest(60, 600, 30.0), audioRequest(20, 1024, 48000, 48000.0)));
  ASSERT_EQ(moov->tracks.size(), 2u);
  EXPECT_EQ(moov->tracks[0]->tkhd->trackID, 1u);
  EXPECT_EQ(moov->tracks[1]->tkhd->trackID, 2u);
  // Durations come from the first tracks alone; the left-out tracks' headers are untouched.
  EXPECT_EQ(moov->duration(), 1200u);
  EXPECT_EQ(moov->tracks[1]->tkhd->duration, 256u);
  EXPECT_EQ(reference->tracks[2]->tkhd->duration, 600u);
  EXPECT_EQ(reference->tracks[3]->tkhd->duration, 600u);

  // Without video the movie, with a complete header, lasts as long as its first sound track.
  auto sound = parseMoov(
      box("moov", {mvhd(600, 1), soundTrak(1, "sowt", 48000, 48000, 1000), soundTrak(2, "sowt", 8000, 8000, 80)}));
  auto s = written(*sound->createMoovWithVideoRequest(AtomCreationRequest(), audioRequest(96, 1000, 48000, 48000.0)));
  ASSERT_EQ(s->tracks.size(), 1u);
  EXPECT_EQ(s->tracks[0]->tkhd->trackID, 1u);
  EXPECT_EQ(s->duration(), 1200u);
  EXPECT_EQ(s->tracks[0]->tkhd->duration, 1200u);
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
  auto reference =
      parseMoov(box("moov", {mvhd(1000, 1), videoTrak(1, 30, 30000, 1001), soundTrak(2, "sowt", 48000, 4800, 480)}));
  for (const Case& c : cases) {
    auto moov = written(*reference->createMoovWithVideoRequest(c.video, c.audio));
    const Trak& video = *moov->tracks[0];
    EXPECT_EQ(video.oneSampleDuration, c.videoSample);
    EXPECT_EQ(video.edts->elst->editListTable.at(0)->mediaTime, c.videoSample);
    EXPECT_EQ(moov->tracks[1]->oneSampleDuration, c.audioSample);
    EXPECT_EQ(video.mdia->mdhd->duration, c.media);
    EXPECT_EQ(video.mdia->mdhd->language, 0x55C4);
  }
  // A reference track of no samples has no average: the new time-to-sample total is used.
  auto empty = parseMoov(box("moov", {mvhd(600, 1), videoTrak(1, 0, 30000, 1001)}));
  auto moov = written(*empty->createMoovWithVideoRequest(videoRequest(10, 30000, 29.97), AtomCreationRequest()));
  EXPECT_EQ(moov->tracks[0]->mdia->mdhd->duration, 10010u);
  // and the track and movie last as long in the movie's time scale, not 4294967295 units
  EXPECT_EQ(moov->tracks[0]->tkhd->duration, 200u);
  EXPECT_EQ(moov->mvhd->duration, 200u);
}

// Without tables from the engine, the reference's patterns are carried over to the new samples;
// the engine's own tables replace them.
TEST(MovieSynthesis, VideoTablesFollowTheReferenceUnlessTheEngineHasItsOwn) {
  // The composition table announces 5 runs and holds 3: reused, it counts the 3 it writes.
  auto reference = parseMoov(
      box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20,
                                           {table("stss", 3, {1, 31, 61}), table("ctts", 5, {1, 40, 1, 0, 88, 20}),
                                            box("sdtp", {raw({0}), Bytes{0x20, 0x10}})})}));
  ASSERT_TRUE(reference);
  auto moov = written(*reference->createMoovWithVideoRequest(videoRequest(300, 600, 30.0), AtomCreationRequest()));
  const Stbl& t = tablesOf(moov, 0);
  EXPECT_EQ(t.stss->syncSampleTable, (std::vector<uint32_t>{1, 31, 61, 91, 121, 151, 181, 211}));
  EXPECT_EQ(t.ctts->numberOfEntries, 3u);
  EXPECT_EQ(t.ctts->compositionOffsetTable.at(2).sampleCount, 88u);
  ASSERT_EQ(t.sdtp->Data.size(), 300u);
  EXPECT_EQ(t.sdtp->Data[2], 0x20);

  AtomCreationRequest video = videoRequest(6, 600, 30.0);
  video.syncSamples = std::vector<uint32_t>{1, 4};
  video.compositionOffsets = std::vector<qvr::CompositionOffsetRun>{{1, 40}, {2, 0}, {3, 20}};
  video.sdtpData = std::vector<uint8_t>{0x20, 0x10, 0x10, 0x20, 0x10, 0x10};
  video.editMediaTime = 40;
  auto engine = written(*reference->createMoovWithVideoRequest(video, AtomCreationRequest()));
  const Stbl& e = tablesOf(engine, 0);
  EXPECT_EQ(e.stss->syncSampleTable, (std::vector<uint32_t>{1, 4}));
  ASSERT_EQ(e.ctts->compositionOffsetTable.size(), 3u);
  EXPECT_EQ(e.ctts->compositionOffsetTable[1].sampleCount, 2u);
  EXPECT_EQ(e.sdtp->Data, *video.sdtpData);
  EXPECT_EQ(engine->tracks[0]->edts->elst->editListTable.at(0)->mediaTime, 40u);
  // An empty list of sync samples is written as such: no frame can be started from.
  video.syncSamples = std::vector<uint32_t>{};
  auto none = written(*reference->createMoovWithVideoRequest(video, AtomCreationRequest()));
  ASSERT_TRUE(tablesOf(none, 0).stss);
  EXPECT_TRUE(tablesOf(none, 0).stss->syncSampleTable.empty());

  // A single composition offset run, no sync table and an empty dependency table: none of them.
  auto sparse = parseMoov(
      box("moov", {mvhd(600, 1), videoTrak(1, 90, 600, 20, {table("ctts", 1, {90, 20}), box("sdtp", {raw({0})})})}));
  auto s = written(*sparse->createMoovWithVideoRequest(videoRequest(30, 600, 30.0), AtomCreationRequest()));
  EXPECT_FALSE(tablesOf(s, 0).ctts || tablesOf(s, 0).stss || tablesOf(s, 0).sdtp);
}

TEST(MovieSynthesis, PcmCountsEveryChunkByItsOwnRun) {
  auto reference =
      parseMoov(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20), soundTrak(2, "sowt", 48000, 4800, 1024)}));
  AtomCreationRequest audio = audioRequest(5, 1024, 48000, 48000.0);
  audio.stscEntries.push_back(SampleToChunkEntery::initWithFirstChunk(5, 100, 1));  // a short last chunk
  auto moov = written(*reference->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), audio));
  EXPECT_EQ(tablesOf(moov, 1).stsz->numberOfEntries, 4u * 1024 + 100);
  EXPECT_EQ(tablesOf(moov, 1).stsc->SampleToChunkTable.size(), 2u);

  // twos without runs of its own keeps the reference's table, written with the one run it
  // holds of the 3 it announces.
  const Bytes twos = trak(2, 44100, 44100, "soun", smhd(),
                          box("stbl", {stsd(soundEntry("twos")), stts(44100, 1), stszConstant(1, 44100),
                                       table("stsc", 3, {1, 2000, 1}), table("stco", 1, {48})}));
  auto reference2 = parseMoov(box("moov", {mvhd(600, 1), videoTrak(1, 10, 600, 20), twos}));
  ASSERT_TRUE(reference2);
  AtomCreationRequest bare = audioRequest(3, 0, 44100, 44100.0);
  bare.stscEntries.clear();
  auto moov2 = written(*reference2->createMoovWithVideoRequest(videoRequest(10, 600, 30.0), bare));
  EXPECT_EQ(tablesOf(moov2, 1).stsc->numberOfEntries, 1u);
  EXPECT_EQ(tablesOf(moov2, 1).stsz->numberOfEntries, 6000u);
}

TEST(MovieSynthesis, NoTracksOrNoMovieHeaderGiveNone) {
  EXPECT_FALSE(parseMoov(box("moov", {mvhd(600, 1)}))->createMoovWithVideoRequest({}, {}));
  auto headless = parseMoov(box("moov", {videoTrak(1, 10, 600, 20)}));
  ASSERT_TRUE(headless);
  EXPECT_FALSE(headless->createMoovWithVideoRequest(videoRequest(1, 600, 30), {}));
}
