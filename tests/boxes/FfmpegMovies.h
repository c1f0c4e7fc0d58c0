#pragma once

// Movies made by ffmpeg once for the whole run, with known parameters: two seconds of 320x240
// H.264 at 25 fps (a sync frame every 10, B-frames) with 48 kHz audio as AAC in MP4 and MOV,
// stereo "sowt", mono "twos", AAC beside a timecode track; and two seconds of H.265.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/TestSupport.h"

class FfmpegMovies : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!testsupport::haveProgram("ffmpeg") || !testsupport::haveProgram("ffprobe")) return;
    dir_ = new testsupport::TempDir();
    const std::string h264 =
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
        "sine=frequency=1000:sample_rate=48000 -t 2 -map 0:v -map 1:a -c:v libx264 -threads 1 "
        "-x264-params keyint=10:min-keyint=10:scenecut=0:bframes=2 -pix_fmt yuv420p ";
    const std::map<std::string, std::string> recipes = {
        {"aac.mp4", h264 + "-c:a aac -b:a 96k -ac 2"},
        {"aac.mov", h264 + "-c:a aac -b:a 96k -ac 2"},
        {"sowt.mov", h264 + "-c:a pcm_s16le -ac 2"},
        {"twos.mov", h264 + "-c:a pcm_s16be -ac 1"},
        {"tmcd.mov", h264 + "-c:a aac -b:a 96k -ac 2 -timecode 01:00:00:00"},
        {"hevc.mp4",
         "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=2 -c:v libx265 "
         "-x265-params log-level=none:keyint=10:min-keyint=10:scenecut=0:open-gop=0 -tag:v hvc1"},
    };
    for (const auto& [name, command] : recipes) {
      auto r = testsupport::runCommand(command + " " + testsupport::shellQuote(dir_->file(name)));
      if (r.exitCode != 0) {
        failure_ = name + ": " + r.output;
        return;
      }
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg/ffprobe not installed";
    ASSERT_TRUE(failure_.empty()) << failure_;
  }
  static std::string path(const std::string& name) { return dir_->file(name); }

  static inline testsupport::TempDir* dir_ = nullptr;
  static inline std::string failure_;
};
