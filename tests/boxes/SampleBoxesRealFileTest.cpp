#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FfmpegMovies.h"
#include "SampleBoxWalker.h"
#include "bitstream/PPS_265.h"
#include "bitstream/SPS.h"
#include "bitstream/SPS_265.h"
#include "bitstream/VPS_265.h"
#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/Ctts.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/Moov.h"
#include "boxes/Sdtp.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stsd.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/VideoSampleDescriptionEntery.h"
#include "support/TestSupport.h"

namespace {

using sampleboxes::Bytes;
using sampleboxes::TrackTables;

std::unique_ptr<Stsd> stsdOf(TrackTables& t) {
  const Bytes& b = t.boxes["stsd"];
  return Stsd::initSTSDWithBytes(b.data(), uint32_t(b.size()));
}

TrackTables* trackWithHandler(std::vector<TrackTables>& tracks, const std::string& handler) {
  for (TrackTables& t : tracks) {
    if (t.handler == handler) return &t;
  }
  return nullptr;
}

// Every table this file holds, parsed and written again, must give back the bytes it came from.
void expectTablesRewriteUnchanged(const std::string& name, std::vector<TrackTables>& tracks) {
  for (TrackTables& t : tracks) {
    for (auto& [type, b] : t.boxes) {
      SCOPED_TRACE(name + " " + t.handler + " " + type);
      const uint8_t* p = b.data();
      const uint32_t n = uint32_t(b.size());
      auto written = [](auto table) {
        table->createWriteableData();
        return table->writeableData;
      };
      std::vector<uint8_t> rewritten;
      if (type == "stts") {
        rewritten = written(Stts::initSTTSWithBytes(p, n));
      } else if (type == "stss") {
        rewritten = written(Stss::initSTSSWithBytes(p, n));
      } else if (type == "stsz") {
        rewritten = written(Stsz::initSTSZWithBytes(p, n));
      } else if (type == "stsc") {
        auto x = Stsc::initSTSCWithBytes(p, n);
        x->asignWritableData();
        rewritten = x->writeableData;
      } else if (type == "stco" || type == "co64") {
        rewritten = written(Stco::initSTCOWithBytes(p, n, type == "co64"));
      } else if (type == "ctts") {
        rewritten = Ctts::initCTTSWithBytes(p, n)->writeableData;
      } else if (type == "sdtp") {
        rewritten = written(Sdtp::initSDTPWithBytes(p, n));
      } else {
        continue;
      }
      EXPECT_EQ(rewritten, b);
    }
  }
}

struct CorpusCase {
  const char* file;
  int64_t videoCodec;
  const char* resolution;
  int64_t audioCodec;
  Bytes audioSpecificConfig;  // as ffprobe shows the stream's extradata
  int64_t avgBitrate = -1;    // -1: not checked
  int64_t maxBitrate = -1;
};

const std::vector<CorpusCase>& corpusCases() {
  static const std::vector<CorpusCase> cases = {
      {"gopro_hero7_HD7.mp4", 1001, "848x480", 1002, {0x11, 0x90, 0, 0, 0}, 48000, 48000},
      {"gopro_hero5_karma_HD5.mp4", 1001, "854x480", 1002, {0x11, 0x90, 0, 0, 0}},
      {"phone_3gp5_avc720p_co64.mp4", 1001, "1280x720", 1002, {0x11, 0x90}, 24000, 48000},
      {"x264_lavf53_v1.mp4", 1001, "480x272", 1002, {0x12, 0x10}, 92500, 96000},
      {"apple_coremedia_avc_faststart.mp4", 1001, "1280x720", 1002, {0x12, 0x10}, 0, 192000},
      {"apple_sample_ipod.m4v", 1001, "320x240", 1002, {0x12, 0x10}},
      {"flir_one_thermal.mp4", 1001, "1080x1440", 1002, {0x12, 0x08}},
      {"samsung_sef_slowmo.mp4", 1001, "320x240", 1002, {0x14, 0x90, 0x56, 0xE5, 0x00}},
      {"android12_avc_4k60_portrait.mp4", 1001, "3840x2160", 1002, {0x11, 0x90}},
      {"iphone14pro_dolbyvision_hevc.mov", 1005, "1280x720", 1002, {0x12, 0x10}},
      {"apple_hevc_main10_moovfirst.mp4", 1005, "1920x1080", 1002, {0x12, 0x10}},
      {"android_hevc_mett_track.mp4", 1005, "1920x1080", 1002, {0x11, 0x90}},
      {"android14_hevc_hlg10_moovfirst.mp4", 1005, "1920x1080", 1002, {0x11, 0x90}},
      {"lavf_avc1080p50_sowt.mov", 1001, "1920x1080", 1003, {}},
      {"lavf_avc720p_twos.mov", 1001, "1080x720", 1004, {}},
      // QuickTime "lpcm" and 3GPP H.263/AMR entries are not among the codecs the repair knows.
      {"iphone6s_livephoto_lpcm.mov", 1001, "1440x1080", 0, {}},
      {"cameraphone_2004_h263_amr.3gp", 0, "176x144", 0, {}},
  };
  return cases;
}

TEST(CorpusSampleDescriptions, CodecConfigurationOfCameraFiles) {
  for (const CorpusCase& c : corpusCases()) {
    SCOPED_TRACE(c.file);
    Bytes file = testsupport::readFile(testsupport::sharedDir() + "/corpus/" + c.file);
    ASSERT_FALSE(file.empty());
    std::vector<TrackTables> tracks = sampleboxes::trackTables(file);
    auto* video = trackWithHandler(tracks, "vide");
    auto* audio = trackWithHandler(tracks, "soun");
    ASSERT_TRUE(video && audio);

    auto v = stsdOf(*video);
    EXPECT_EQ(v->codecFormat, c.videoCodec);
    EXPECT_EQ(v->stsdData, video->boxes["stsd"]);
    if (c.videoCodec != 0) {
      EXPECT_EQ(v->getResolution(), c.resolution);
      EXPECT_EQ(v->avc1NaluSizeLength(), 4);
    }
    if (c.videoCodec == 1001) {
      auto sps = v->avcSPS();
      ASSERT_TRUE(sps);
      ASSERT_TRUE(v->PPS());
      // The coded picture covers the described one.
      const auto* entry = v->getDecoder()->asVideo();
      EXPECT_GE((sps->pic_width_in_mbs_minus1 + 1) * 16, entry->width);
      EXPECT_EQ(entry->avcC()->sequenceParameterSetNALUnit[0] & 0x1F, 7);
      EXPECT_EQ(entry->avcC()->pictureParameterSetNALUnit[0] & 0x1F, 8);
    }
    if (c.videoCodec == 1005) {
      const HVCDecoderConfigurationRecord* record = v->getDecoder()->asVideo()->hvcC();
      ASSERT_TRUE(record);
      EXPECT_GE(record->numOfSPS, 1);
      EXPECT_GE(record->numOfPPS, 1);
      EXPECT_GT(record->spsSize, 0);
      ASSERT_TRUE(v->hevcSPS());
      // The coded picture is the described one rounded up to whole coding blocks.
      const auto* entry = v->getDecoder()->asVideo();
      EXPECT_GE(v->hevcSPS()->pic_width_in_luma_samples, entry->width);
      EXPECT_LT(v->hevcSPS()->pic_width_in_luma_samples, entry->width + 64);
      EXPECT_GE(v->hevcSPS()->pic_height_luma_samples, entry->height);
      EXPECT_LT(v->hevcSPS()->pic_height_luma_samples, entry->height + 64);
      EXPECT_TRUE(v->PPS());
      EXPECT_TRUE(v->VPS());
    }

    auto a = stsdOf(*audio);
    EXPECT_EQ(a->codecFormat, c.audioCodec);
    auto info = a->decoderSpecificInfo();
    if (c.audioCodec == 1002) {
      ASSERT_TRUE(info);
      EXPECT_EQ(Bytes(info->decoderSpecificInfo.begin(), info->decoderSpecificInfo.end()), c.audioSpecificConfig);
    } else {
      EXPECT_EQ(info, nullptr);
    }
    if (c.avgBitrate >= 0) {
      EXPECT_EQ(a->getAvgAudioBitRate(), c.avgBitrate);
    }
    if (c.maxBitrate >= 0) {
      EXPECT_EQ(a->getMaxAudioBitRate(), c.maxBitrate);
    }

    expectTablesRewriteUnchanged(c.file, tracks);
  }
}

TEST(CorpusSampleDescriptions, SampleSkipCountsTheTracksAfterVideoAndAudio) {
  struct Case {
    const char* file;
    uint32_t skip;
  };
  // Worked out by hand from the constant sample sizes and first runs of the third and later
  // tracks (timed metadata of 10 and 8 bytes a sample in the Apple files).
  for (const Case& c : {Case{"iphone6_gps.mov", 10}, Case{"apple_hevc_main10_moovfirst.mp4", 18},
                        Case{"gopro_hero7_HD7.mp4", 0}, Case{"x264_lavf53_v1.mp4", 0}}) {
    SCOPED_TRACE(c.file);
    Bytes file = testsupport::readFile(testsupport::sharedDir() + "/corpus/" + c.file);
    for (const sampleboxes::Box& b : sampleboxes::children(file, 0, file.size())) {
      if (b.type != "moov") continue;
      auto moov = Moov::initMOOVWithData(file.data() + b.offset, uint32_t(b.size));
      ASSERT_TRUE(moov);
      EXPECT_EQ(moov->getSampleSkip(), c.skip);
    }
  }
}

std::vector<TrackTables> tracksOf(const std::string& path) {
  return sampleboxes::trackTables(testsupport::readFile(path));
}

TEST_F(FfmpegMovies, H264WithAacOrPcm) {
  struct Case {
    const char* name;
    int64_t audioCodec;
    int channels;
  };
  for (const Case& c :
       {Case{"aac.mp4", 1002, 2}, Case{"aac.mov", 1002, 2}, Case{"sowt.mov", 1003, 2}, Case{"twos.mov", 1004, 1}}) {
    SCOPED_TRACE(c.name);
    auto tracks = tracksOf(path(c.name));
    auto* video = trackWithHandler(tracks, "vide");
    auto* audio = trackWithHandler(tracks, "soun");
    ASSERT_TRUE(video && audio);

    auto v = stsdOf(*video);
    EXPECT_EQ(v->codecFormat, 1001);
    EXPECT_EQ(v->avc1NaluSizeLength(), 4);
    EXPECT_EQ(v->getResolution(), "320x240");
    ASSERT_TRUE(v->avcSPS());
    EXPECT_EQ(v->avcSPS()->pic_width_in_mbs_minus1, 19);
    EXPECT_EQ(v->avcSPS()->pic_height_in_map_units_minus1, 14);
    // 50 frames, a sync frame every 10, one duration for all.
    auto stsz = Stsz::initSTSZWithBytes(video->boxes["stsz"].data(), uint32_t(video->boxes["stsz"].size()));
    EXPECT_EQ(stsz->numberOfEntries, 50u);
    EXPECT_EQ(stsz->SampleSizeTable.size(), 50u);
    auto stss = Stss::initSTSSWithBytes(video->boxes["stss"].data(), uint32_t(video->boxes["stss"].size()));
    EXPECT_EQ(stss->syncSampleTable, (std::vector<uint32_t>{1, 11, 21, 31, 41}));
    auto stts = Stts::initSTTSWithBytes(video->boxes["stts"].data(), uint32_t(video->boxes["stts"].size()));
    EXPECT_GT(stts->getOneSampleDuration(), 0u);

    auto a = stsdOf(*audio);
    EXPECT_EQ(a->codecFormat, c.audioCodec);
    const AudioSampleDescriptionEntery* entry = a->getDecoder()->asAudio();
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->numberOfChannels, c.channels);
    EXPECT_EQ(entry->sampleRate >> 16, 48000u);
    auto info = a->decoderSpecificInfo();
    if (c.audioCodec == 1002) {
      ASSERT_TRUE(info);
      // AAC LC (2), 48 kHz (index 3), two channels.
      ASSERT_GE(info->decoderSpecificInfo.size(), 2u);
      EXPECT_EQ(info->decoderSpecificInfo[0], 0x11);
      EXPECT_EQ(info->decoderSpecificInfo[1], 0x90);
      EXPECT_GT(a->getAvgAudioBitRate(), 64000u);
      EXPECT_LT(a->getAvgAudioBitRate(), 200000u);
      EXPECT_GE(a->getMaxAudioBitRate(), a->getAvgAudioBitRate());
    } else {
      EXPECT_EQ(entry->sampleSize, 16);
      EXPECT_EQ(a->getAvgAudioBitRate(), 0u);
      EXPECT_EQ(info, nullptr);
      // PCM is described as one constant-size sample per frame.
      auto pcm = Stsz::initSTSZWithBytes(audio->boxes["stsz"].data(), uint32_t(audio->boxes["stsz"].size()));
      EXPECT_NE(pcm->sampleSize, 0u);
      EXPECT_TRUE(pcm->SampleSizeTable.empty());
    }
    expectTablesRewriteUnchanged(c.name, tracks);
  }
}

TEST_F(FfmpegMovies, H265Record) {
  auto tracks = tracksOf(path("hevc.mp4"));
  auto* video = trackWithHandler(tracks, "vide");
  ASSERT_TRUE(video);
  auto v = stsdOf(*video);
  EXPECT_EQ(v->codecFormat, 1005);
  EXPECT_EQ(v->avc1NaluSizeLength(), 4);
  EXPECT_EQ(v->getResolution(), "320x240");
  const HVCDecoderConfigurationRecord* record = v->getDecoder()->asVideo()->hvcC();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->numOfVPS, 1);
  EXPECT_EQ(record->numOfSPS, 1);
  EXPECT_EQ(record->numOfPPS, 1);
  EXPECT_EQ(record->width, 320u);
  EXPECT_EQ(record->height, 240u);
  // x265 stores its settings as SEI text in the record as well; the parameter sets must still
  // be the real ones.
  ASSERT_TRUE(v->hevcSPS());
  EXPECT_EQ(v->hevcSPS()->pic_width_in_luma_samples, 320);
  EXPECT_EQ(v->hevcSPS()->pic_height_luma_samples, 240);
  EXPECT_EQ(v->SPS(), std::static_pointer_cast<RBSPObject>(v->hevcSPS()));
  EXPECT_TRUE(v->hevcPPS());
  EXPECT_TRUE(v->hevcVPS());
  EXPECT_EQ(v->VPS(), std::static_pointer_cast<RBSPObject>(v->hevcVPS()));
}

}  // namespace
