// Movie boxes written by real muxers and cameras: parsed, and (for ffmpeg-made files) rebuilt
// from their own sample tables and handed back to ffprobe and ffmpeg.

#include <gtest/gtest.h>

#include <cmath>

#include "FfmpegMovies.h"
#include "MovieTreeBuilder.h"
#include "boxes/AtomCreationRequest.h"
#include "boxes/Edts.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Moov.h"
#include "boxes/Mvhd.h"
#include "boxes/Stbl.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stsz.h"
#include "foundation/FileHandle.h"
#include "support/TestSupport.h"

using namespace treebuilder;
using testsupport::runCommand;
using testsupport::shellQuote;

namespace {

std::unique_ptr<Moov> parseFile(const std::string& path, Bytes* fileOut = nullptr) {
  Bytes file = testsupport::readFile(path);
  Bytes moov = topLevelBox(file, "moov");
  if (fileOut) *fileOut = std::move(file);
  if (moov.empty()) return nullptr;
  return Moov::initMOOVWithData(moov.data(), static_cast<uint32_t>(moov.size()));
}

struct CameraFile {
  const char* name;
  size_t tracks;
  int64_t videoCodec;
  const char* resolution;
  double fps;
  uint32_t frames;
  int64_t audioCodec;
  uint32_t audioTimeScale;
};

}  // namespace

TEST(CameraFiles, ParseWithTheValuesTheirWritersRecorded) {
  const CameraFile files[] = {
      {"gopro_hero7_HD7.mp4", 5, 1001, "848x480", 29.97, 352, 1002, 48000},
      {"gopro_hero5_karma_HD5.mp4", 5, 1001, "854x480", 29.97, 362, 1002, 48000},
      {"iphone6_gps.mov", 4, 1001, "568x320", 29.988, 120, 1002, 44100},
      {"iphone14pro_dolbyvision_hevc.mov", 5, 1002, "1280x720", 30.0, 5, 1002, 44100},
      {"apple_hevc_main10_moovfirst.mp4", 4, 1002, "1920x1080", 28.028, 86, 1002, 44100},
      {"android_hevc_mett_track.mp4", 3, 1002, "1920x1080", 29.98, 3, 1002, 48000},
      {"phone_3gp5_avc720p_co64.mp4", 2, 1001, "1280x720", 30.0, 39, 1002, 48000},
      {"samsung_sef_slowmo.mp4", 2, 1001, "320x240", 30.472, 64, 1002, 12000},
      {"lavf_avc1080p50_sowt.mov", 2, 1001, "1920x1080", 50.0, 100, 1003, 48000},
      {"lavf_avc720p_twos.mov", 2, 1001, "1080x720", 29.97, 30, 1004, 44100},
      {"apple_sample_ipod.m4v", 2, 1001, "320x240", 10.0, 855, 1002, 44100},
      // Neither H.264/H.265 nor AAC/PCM: tracks are found, codecs are unknown.
      {"cameraphone_2004_h263_amr.3gp", 2, 0, "Missing", 14.761, 222, 0, 50},
  };
  const std::string corpus = testsupport::sharedDir() + "/corpus/";
  for (const CameraFile& f : files) {
    SCOPED_TRACE(f.name);
    if (!testsupport::readFile(corpus + f.name).size()) GTEST_SKIP() << "corpus missing";
    auto moov = parseFile(corpus + f.name);
    ASSERT_TRUE(moov);
    EXPECT_EQ(moov->tracks.size(), f.tracks);
    EXPECT_EQ(moov->getVideoCodecFormat(), f.videoCodec);
    EXPECT_EQ(moov->getResolution(), f.resolution);
    EXPECT_NEAR(moov->videoTrackFPS(), f.fps, 0.001);
    ASSERT_TRUE(moov->getTrakWithType(1));
    EXPECT_EQ(moov->getTrakWithType(1)->sampleCount, f.frames);
    EXPECT_EQ(moov->getAudioCodecFormat(), f.audioCodec);
    EXPECT_EQ(moov->audioTrackTimeScale(), f.audioTimeScale);
    if (f.videoCodec) {
      EXPECT_EQ(moov->getAVCOneNALUSizeLength(), 4);
      // An H.265 track keeps its own code; the movie as a whole reports it as 1002.
      EXPECT_EQ(moov->getTrakWithType(1)->trackCodecFormat, f.videoCodec == 1002 ? 1005 : 1001);
      EXPECT_TRUE(moov->SPS());
      EXPECT_TRUE(moov->PPS());
      EXPECT_EQ(moov->VPS() != nullptr, f.videoCodec == 1002);
    }
    if (f.audioCodec == 1002) {
      EXPECT_GE(moov->decodeSpecificInfo().size(), 2u);
    }
  }
}

// A motion photo: the movie's pictures, a full-size still and two metadata tracks. Only the
// movie's own track is rebuilt, with its own sample description.
TEST(CameraFiles, MotionPhotoKeepsOnlyItsMovieTrack) {
  auto moov = parseFile(testsupport::sharedDir() + "/corpus/pixel_motionphoto_2hevc.mp4");
  if (!moov) GTEST_SKIP() << "corpus missing";
  size_t videoTracks = 0;
  for (const auto& t : moov->tracks) videoTracks += t->trackType == 1;
  ASSERT_EQ(videoTracks, 2u);

  auto rebuilt = moov->createMoovWithVideoRequest(videoRequest(10, moov->videoTrackTimeScale(), moov->videoTrackFPS()),
                                                  AtomCreationRequest());
  ASSERT_TRUE(rebuilt);
  ASSERT_EQ(rebuilt->tracks.size(), 1u);
  EXPECT_EQ(rebuilt->tracks[0]->trackType, 1);
  EXPECT_EQ(rebuilt->getResolution(), "1024x768");
  const Bytes data = rebuilt->convertSelfToData();
  EXPECT_EQ(data.size(), rebuilt->size);
  EXPECT_EQ(checkSizes(data.data(), data.size(), nullptr), "");
}

TEST_F(FfmpegMovies, ParseWithExpectedTimeScalesRatesAndCodecs) {
  struct Expect {
    const char* name;
    size_t tracks;
    int64_t audioCodec;
  } expects[] = {
      {"aac.mp4", 2, 1002}, {"aac.mov", 2, 1002}, {"sowt.mov", 2, 1003}, {"twos.mov", 2, 1004}, {"tmcd.mov", 3, 1002}};
  for (const Expect& e : expects) {
    SCOPED_TRACE(e.name);
    auto moov = parseFile(path(e.name));
    ASSERT_TRUE(moov);
    EXPECT_EQ(moov->tracks.size(), e.tracks);
    EXPECT_EQ(moov->getVideoCodecFormat(), 1001);
    EXPECT_EQ(moov->getAudioCodecFormat(), e.audioCodec);
    EXPECT_DOUBLE_EQ(moov->videoTrackFPS(), 25.0);
    EXPECT_EQ(moov->getTrakWithType(1)->sampleCount, 50u);
    EXPECT_EQ(moov->getResolution(), "320x240");
    EXPECT_EQ(moov->audioTrackTimeScale(), 48000u);
    EXPECT_EQ(moov->duration() * 1.0 / moov->mvhd->timescale, 2.0);
    if (e.audioCodec == 1002) {
      // Encoder priming makes the media a little shorter than its frames.
      EXPECT_NEAR(moov->audioTrackFPS(), 46.875, 0.2);
      EXPECT_EQ(moov->getOneSampleDurationOfTackType(2), 1024u);
      ASSERT_GE(moov->decodeSpecificInfo().size(), 2u);
      EXPECT_EQ(moov->decodeSpecificInfo()[0], 0x11);  // AAC LC, 48 kHz
      EXPECT_GT(moov->getMaxAudioSize(), 0u);
    } else {
      EXPECT_DOUBLE_EQ(moov->audioTrackFPS(), 48000.0);
    }
  }
  auto tmcd = parseFile(path("tmcd.mov"));
  EXPECT_EQ(tmcd->tracks[2]->trackType, -1);
}

namespace {

// Requests that describe the movie's own samples, with chunk offsets moved by `shift`.
AtomCreationRequest requestFor(const Moov& moov, int64_t trackType, int64_t shift) {
  const Trak& track = *moov.getTrakWithType(trackType);
  const Stbl& table = *track.mdia->minf->stbl;
  AtomCreationRequest r;
  r.requestType = trackType == 1 ? AtomCreationRequest::kVideoRequest : AtomCreationRequest::kAudioRequest;
  r.timeScale = track.trakMediaTimeScale;
  r.FPS = track.trakFPS;
  for (uint64_t offset : table.stco->chunkOffsetTable) r.stcoEntries.push_back(offset + shift);
  r.stszEntries = table.stsz->SampleSizeTable;
  r.stscEntries = table.stsc->SampleToChunkTable;
  return r;
}

std::string probeCount(const std::string& file, const char* stream, const char* entry) {
  auto r = runCommand("ffprobe -v error -select_streams " + std::string(stream) + " -count_packets -count_frames " +
                      "-show_entries stream=" + entry + " -of csv=p=0 " + shellQuote(file));
  return r.exitCode == 0 ? r.output : "ffprobe failed: " + r.output;
}

}  // namespace

TEST_F(FfmpegMovies, SynthesisedMovieBoxIsAcceptedByRealPlayers) {
  for (const char* name : {"aac.mp4", "sowt.mov", "twos.mov", "tmcd.mov"}) {
    SCOPED_TRACE(name);
    Bytes file;
    auto reference = parseFile(path(name), &file);
    ASSERT_TRUE(reference);

    // New layout: the original media data box first, then the synthesised movie box.
    uint64_t mdatAt = 0;
    Bytes mdat;
    for (uint64_t p = 0; p + 8 <= file.size(); p += be32(&file[p])) {
      if (std::string(reinterpret_cast<const char*>(&file[p + 4]), 4) == "mdat") {
        mdatAt = p;
        mdat.assign(file.begin() + p, file.begin() + p + be32(&file[p]));
        break;
      }
      if (be32(&file[p]) < 8) break;
    }
    ASSERT_FALSE(mdat.empty());
    const int64_t shift = -static_cast<int64_t>(mdatAt);
    auto video = requestFor(*reference, 1, shift);
    // What the repair engine passes for B-frame streams: the edit starts at the first
    // presented frame, here the reference's own edit.
    const Trak& referenceVideo = *reference->getTrakWithType(1);
    ASSERT_TRUE(referenceVideo.edts && referenceVideo.edts->elst);
    video.editMediaTime = referenceVideo.edts->elst->editListTable.at(0)->mediaTime;
    auto audio = requestFor(*reference, 2, shift);
    auto moov = reference->createMoovWithVideoRequest(video, audio);
    ASSERT_TRUE(moov);

    const std::string out = path(std::string("rebuilt_") + name);
    auto handle = qvr::WriteHandle::create(out);
    ASSERT_TRUE(handle->write(mdat));
    ASSERT_TRUE(moov->writeToFileHandle(*handle));
    ASSERT_TRUE(handle->commit());

    Bytes written = testsupport::readFile(out);
    Bytes newMoov = topLevelBox(written, "moov");
    ASSERT_EQ(checkSizes(newMoov.data(), newMoov.size(), nullptr), "");
    auto reparsed = Moov::initMOOVWithData(newMoov.data(), static_cast<uint32_t>(newMoov.size()));
    ASSERT_TRUE(reparsed) << "our own output must parse";
    EXPECT_EQ(reparsed->getTrakWithType(1)->sampleCount, 50u);
    EXPECT_EQ(reparsed->tracks.size(), 2u) << "only video and sound are rebuilt";

    auto decode = runCommand("ffmpeg -v error -i " + shellQuote(out) + " -f null - 2>&1");
    EXPECT_EQ(decode.exitCode, 0);
    EXPECT_EQ(decode.output, "");
    EXPECT_EQ(probeCount(out, "v:0", "nb_read_frames"), probeCount(path(name), "v:0", "nb_read_frames"));
    EXPECT_EQ(probeCount(out, "v:0", "nb_read_packets"), "50\n");
    EXPECT_EQ(probeCount(out, "a:0", "nb_read_packets"), probeCount(path(name), "a:0", "nb_read_packets"));
  }
}
