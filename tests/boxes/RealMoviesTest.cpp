// Movie boxes written by real muxers and cameras: parsed with the values their writers recorded,
// every box written again exactly as read, and (for ffmpeg-made files) a movie box rebuilt from
// the file's own sample tables and handed back to ffprobe and ffmpeg.

#include <map>

#include "MovieTreeBuilder.h"
#include "bitstream/SPS.h"
#include "bitstream/SPS_265.h"
#include "foundation/FileHandle.h"
#include "support/Movies.h"
#include "support/TestSupport.h"

using namespace treebuilder;
using testsupport::runCommand;
using testsupport::shellQuote;

namespace {

// The file's movie box, parsed.
std::unique_ptr<Moov> parseFile(const Bytes& file) {
  for (const testsupport::Box& b : testsupport::topLevelBoxes(file))
    if (b.type == "moov")
      return parseMoov(Bytes(file.begin() + long(b.offset), file.begin() + long(b.offset + b.size)));
  return nullptr;
}

struct CameraFile {
  const char* name;
  size_t tracks;
  int64_t videoCodec, audioCodec;  // as the movie reports them: 1001 H.264, 1002 H.265; 1002 AAC, 1003/4/6 PCM
  const char* resolution;
  double fps;
  uint32_t frames, audioTimeScale;
  Bytes audioSpecificConfig;  // as ffprobe shows the stream's extradata
};

}  // namespace

TEST(CameraFiles, ParseWithTheValuesTheirWritersRecordedAndRewriteUnchanged) {
  const CameraFile files[] = {
      {"gopro_hero7_HD7.mp4", 5, 1001, 1002, "848x480", 29.97, 352, 48000, {0x11, 0x90, 0, 0, 0}},
      {"gopro_hero5_karma_HD5.mp4", 5, 1001, 1002, "854x480", 29.97, 362, 48000, {0x11, 0x90, 0, 0, 0}},
      {"iphone6_gps.mov", 4, 1001, 1002, "568x320", 29.988, 120, 44100, {0x12, 0x08}},
      {"iphone14pro_dolbyvision_hevc.mov", 5, 1002, 1002, "1280x720", 30.0, 5, 44100, {0x12, 0x10}},
      {"apple_hevc_main10_moovfirst.mp4", 4, 1002, 1002, "1920x1080", 28.028, 86, 44100, {0x12, 0x10}},
      {"android_hevc_mett_track.mp4", 3, 1002, 1002, "1920x1080", 29.98, 3, 48000, {0x11, 0x90}},
      {"android14_hevc_hlg10_moovfirst.mp4", 2, 1002, 1002, "1920x1080", 29.99, 9, 48000, {0x11, 0x90}},
      {"android12_avc_4k60_portrait.mp4", 2, 1001, 1002, "3840x2160", 60.058, 18, 48000, {0x11, 0x90}},
      {"phone_3gp5_avc720p_co64.mp4", 2, 1001, 1002, "1280x720", 30.0, 39, 48000, {0x11, 0x90}},
      {"samsung_sef_slowmo.mp4", 2, 1001, 1002, "320x240", 30.472, 64, 12000, {0x14, 0x90, 0x56, 0xE5, 0x00}},
      {"apple_coremedia_avc_faststart.mp4", 2, 1001, 1002, "1280x720", 29.986, 109, 44100, {0x12, 0x10}},
      {"apple_sample_ipod.m4v", 2, 1001, 1002, "320x240", 10.0, 855, 44100, {0x12, 0x10}},
      {"flir_one_thermal.mp4", 2, 1001, 1002, "1080x1440", 7.399, 84, 44100, {0x12, 0x08}},
      {"x264_lavf53_v1.mp4", 2, 1001, 1002, "480x272", 25.0, 51, 44100, {0x12, 0x10}},
      {"pixel_motionphoto_2hevc.mp4", 4, 1002, 0, "1024x768", 27.61, 58, 0, {}},  // movie and still, no sound
      {"lavf_avc1080p50_sowt.mov", 2, 1001, 1003, "1920x1080", 50.0, 100, 48000, {}},
      {"lavf_avc720p_twos.mov", 2, 1001, 1004, "1080x720", 29.97, 30, 44100, {}},
      {"iphone6s_livephoto_lpcm.mov", 4, 1001, 1006, "1440x1080", 10.645, 22, 44100, {}},
      // H.263 and AMR are not among the codecs the repair knows: tracks are found, codecs are unknown.
      {"cameraphone_2004_h263_amr.3gp", 2, 0, 0, "Missing", 14.761, 222, 50, {}},
  };
  for (const CameraFile& f : files) {
    SCOPED_TRACE(f.name);
    if (const std::string why = testsupport::corpusMissing(f.name, "parsing"); !why.empty()) GTEST_SKIP() << why;
    const Bytes file = testsupport::readFile(testsupport::corpusDir() + "/" + f.name);
    auto moov = parseFile(file);
    ASSERT_TRUE(moov);
    EXPECT_EQ(moov->tracks.size(), f.tracks);
    EXPECT_EQ(moov->getVideoCodecFormat(), f.videoCodec);
    EXPECT_EQ(moov->getResolution(), f.resolution);
    EXPECT_NEAR(moov->videoTrackFPS(), f.fps, 0.001);
    ASSERT_TRUE(moov->getTrakWithType(1));
    EXPECT_EQ(moov->getTrakWithType(1)->sampleCount, f.frames);
    EXPECT_EQ(moov->getAudioCodecFormat(), f.audioCodec);
    EXPECT_EQ(moov->audioTrackTimeScale(), f.audioTimeScale);
    EXPECT_EQ(Bytes(moov->decodeSpecificInfo().begin(), moov->decodeSpecificInfo().end()), f.audioSpecificConfig);
    if (f.videoCodec) {
      EXPECT_EQ(moov->getAVCOneNALUSizeLength(), 4);
      // An H.265 track keeps its own code; the movie as a whole reports it as 1002.
      const bool hevc = f.videoCodec == 1002;
      const Stsd& d = *moov->getTrakWithType(1)->stsd();
      EXPECT_EQ(d.codecFormat, hevc ? 1005 : 1001);
      // The parameter sets are the real ones: their coded picture covers the described one.
      ASSERT_TRUE(moov->SPS() && moov->PPS());
      EXPECT_EQ(moov->VPS() != nullptr, hevc);
      const uint32_t coded =
          hevc ? d.hevcSPS()->pic_width_in_luma_samples : (d.avcSPS()->pic_width_in_mbs_minus1 + 1) * 16;
      EXPECT_GE(coded, d.getDecoder()->asVideo()->width);
      EXPECT_LT(coded, d.getDecoder()->asVideo()->width + 64u);
    }
    expectBoxesRewriteUnchanged(file);
  }
}

namespace {

// ffmpeg-made movies of the shared recipes, which name what was encoded.
const char* const kRecipes[] = {"h264_aac_mp4",  "h264_aac_mov",      "h264_sowt_mov",
                                "h264_twos_mov", "h264_aac_tmcd_mov", "hevc_aac_mp4"};

std::string probe(const std::string& file, const std::string& options) {
  auto r = runCommand("ffprobe -v error " + options + " -of csv=p=0 " + shellQuote(file));
  return r.exitCode == 0 ? r.output : "ffprobe failed: " + r.output;
}

// A request that describes the track's own samples, with chunk offsets moved by `shift`.
AtomCreationRequest requestFor(const Trak& track, int64_t shift) {
  const Stbl& t = *track.mdia->minf->stbl;
  AtomCreationRequest r =
      request(track.trackType == 1 ? AtomCreationRequest::kVideoRequest : AtomCreationRequest::kAudioRequest,
              track.trakMediaTimeScale, track.trakFPS, 1);
  for (uint64_t offset : t.stco->chunkOffsetTable) r.stcoEntries.push_back(offset + shift);
  r.stszEntries = t.stsz->SampleSizeTable;
  r.stscEntries = t.stsc->SampleToChunkTable;
  return r;
}

}  // namespace

// Each recipe's movie parses with what the recipe encoded, and a movie box rebuilt from its own
// sample tables, written after its media data, plays in ffmpeg like the original.
TEST(FfmpegMovies, ParseAsEncodedAndPlayWhenRebuilt) {
  if (!testsupport::haveProgram("ffmpeg") || !testsupport::haveProgram("ffprobe"))
    GTEST_SKIP() << "ffmpeg/ffprobe not installed";
  const std::map<std::string, int64_t> audioCodecs = {{"aac", 1002}, {"pcm_s16le", 1003}, {"pcm_s16be", 1004}};
  testsupport::TempDir dir;
  for (const char* name : kRecipes) {
    SCOPED_TRACE(name);
    const testsupport::Recipe& r = testsupport::recipe(name);
    const std::string original = testsupport::makeMovie(r).original;
    const Bytes file = testsupport::readFile(original);
    auto reference = parseFile(file);
    ASSERT_TRUE(reference);
    expectBoxesRewriteUnchanged(file);
    EXPECT_EQ(reference->tracks.back()->trackType, r.timecode.empty() ? 2 : -1);
    EXPECT_EQ(reference->getAudioCodecFormat(), audioCodecs.at(r.audioCodec));
    EXPECT_EQ(reference->getTrackDecoderWith(2)->asAudio()->numberOfChannels, r.audioChannels);
    if (r.audioCodec == "aac") {
      // Encoder priming makes the media a little shorter than its frames.
      EXPECT_NEAR(reference->audioTrackFPS(), r.audioRate / 1024.0, 0.2);
      EXPECT_EQ(reference->getOneSampleDurationOfTackType(2), 1024u);
    } else {
      // PCM: one constant-size sample per 16-bit frame, whole frames per second.
      EXPECT_DOUBLE_EQ(reference->audioTrackFPS(), r.audioRate);
      EXPECT_EQ(reference->getTrakWithType(2)->getSampleSize(), 2u * r.audioChannels);
    }

    // New layout: the original media data box first, then the synthesised movie box.
    Bytes mdat;
    int64_t shift = 0;
    for (const testsupport::Box& b : testsupport::topLevelBoxes(file)) {
      if (b.type != "mdat" || !mdat.empty()) continue;
      mdat.assign(file.begin() + long(b.offset), file.begin() + long(b.offset + b.size));
      shift = -static_cast<int64_t>(b.offset);
    }
    ASSERT_FALSE(mdat.empty());
    const Trak& referenceVideo = *reference->getTrakWithType(1);
    auto video = requestFor(referenceVideo, shift);
    // What the repair engine passes for B-frame streams: the edit starts at the first
    // presented frame, here the reference's own edit.
    ASSERT_TRUE(referenceVideo.edts && referenceVideo.edts->elst);
    video.editMediaTime = referenceVideo.edts->elst->editListTable.at(0)->mediaTime;
    auto moov = reference->createMoovWithVideoRequest(video, requestFor(*reference->getTrakWithType(2), shift));
    ASSERT_TRUE(moov);

    const std::string out = dir.file(std::string(name) + ".mov");
    auto handle = qvr::WriteHandle::create(out);
    ASSERT_TRUE(handle->write(mdat));
    ASSERT_TRUE(moov->writeToFileHandle(*handle));
    ASSERT_TRUE(handle->commit());

    const Bytes newMoov = moov->convertSelfToData();
    Bytes whole = mdat;
    append(whole, newMoov);
    EXPECT_EQ(testsupport::readFile(out), whole);
    std::vector<testsupport::Box> layout;
    ASSERT_TRUE(walk(newMoov, layout)) << "container sizes disagree";
    auto reparsed = parseMoov(newMoov);
    ASSERT_TRUE(reparsed) << "our own output must parse";
    EXPECT_EQ(reparsed->tracks.size(), 2u) << "only video and sound are rebuilt";

    auto decode = runCommand("ffmpeg -v error -i " + shellQuote(out) + " -f null - 2>&1");
    EXPECT_EQ(decode.exitCode, 0);
    EXPECT_EQ(decode.output, "");
    for (const char* stream : {"v:0", "a:0"}) {
      const std::string options = std::string("-count_packets -select_streams ") + stream +
                                  " -show_entries stream=codec_name,width,height,sample_rate,channels,time_base,"
                                  "nb_frames,nb_read_packets";
      EXPECT_EQ(probe(out, options), probe(original, options)) << stream;
    }
  }
}
