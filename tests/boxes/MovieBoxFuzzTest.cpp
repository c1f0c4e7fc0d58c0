// Damaged movie boxes: truncated and bit-flipped copies of real ones must parse (or be
// refused) without crashing, hanging or reading outside the bytes given. Meant to run under
// the sanitizer build, where every out-of-bounds read is fatal.

#include <gtest/gtest.h>

#include <random>

#include "MovieTreeBuilder.h"
#include "boxes/AtomCreationRequest.h"
#include "boxes/Moov.h"
#include "support/TestSupport.h"

using namespace treebuilder;

namespace {

// Everything a caller may ask of a parsed tree, including a synthesis.
void exercise(Moov& moov) {
  volatile uint64_t sink = 0;
  sink = sink + moov.getVideoCodecFormat() + moov.getAudioCodecFormat() + moov.videoTrackTimeScale() +
         moov.audioTrackTimeScale() + moov.getAVCOneNALUSizeLength() + moov.getAverageAudioSize() +
         moov.getMaxAudioSize() + moov.aacSampleMean() + moov.duration() + moov.getSampleSkip() +
         moov.getOneSampleDurationOfTackType(1) + moov.decodeSpecificInfo().size() + moov.getResolution().size();
  sink = sink + static_cast<uint64_t>(moov.videoTrackFPS() > 0) + (moov.SPS() != nullptr) + (moov.VPS() != nullptr);

  AtomCreationRequest video;
  video.requestType = AtomCreationRequest::kVideoRequest;
  video.timeScale = moov.videoTrackTimeScale();
  video.FPS = moov.videoTrackFPS();
  video.stcoEntries = {48, 4096};
  video.stszEntries = {100, 200, 300};
  video.stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 2, 1),
                       SampleToChunkEntery::initWithFirstChunk(2, 1, 1)};
  AtomCreationRequest audio;
  audio.requestType = AtomCreationRequest::kAudioRequest;
  audio.timeScale = moov.audioTrackTimeScale();
  audio.FPS = moov.audioTrackFPS();
  audio.stcoEntries = {148};
  audio.stszEntries = {10};
  audio.stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 1, 1)};
  if (auto made = moov.createMoovWithVideoRequest(video, audio)) {
    Bytes data = made->convertSelfToData();
    EXPECT_EQ(checkSizes(data.data(), data.size(), nullptr), "");
  }
}

std::vector<Bytes> seeds() {
  std::vector<Bytes> out;
  for (const char* name : {"lavf_avc720p_twos.mov", "x264_lavf53_v1.mp4", "iphone14pro_dolbyvision_hevc.mov",
                           "android_hevc_mett_track.mp4", "samsung_sef_slowmo.mp4"}) {
    Bytes moov = topLevelBox(testsupport::readFile(testsupport::sharedDir() + "/corpus/" + name), "moov");
    if (!moov.empty()) out.push_back(std::move(moov));
  }
  // A small synthetic tree with every optional table, so that a mutation often hits them.
  out.push_back(box(
      "moov",
      {mvhd(600, 1),
       videoTrak(1, 12, 600, 20, {stss({1, 5}), ctts({{1, 40}, {11, 20}}), box("sdtp", {raw({0}), Bytes{0x20, 0x10}})}),
       sowtTrak(2, 48000, 4800, 480), tmcdTrak(3)}));
  return out;
}

}  // namespace

TEST(DamagedMovieBoxes, NeverCrashOrReadOutside) {
  std::mt19937 random(20261206);
  const std::vector<Bytes> originals = seeds();
  ASSERT_FALSE(originals.empty());
  size_t parsed = 0;
  for (const Bytes& original : originals) {
    for (int round = 0; round < 240; ++round) {
      Bytes mutant = original;
      switch (round % 3) {
        case 0:  // truncation
          mutant.resize(std::uniform_int_distribution<size_t>(0, mutant.size())(random));
          break;
        case 1:  // bit flips
          for (int i = std::uniform_int_distribution<int>(1, 16)(random); i > 0; --i)
            mutant[random() % mutant.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
          break;
        default: {  // hostile sizes and counts written over aligned words
          static const uint32_t words[] = {0, 1, 7, 8, 9, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFF8, 16, 0x10000};
          for (int i = std::uniform_int_distribution<int>(1, 4)(random); i > 0; --i) {
            size_t at = (random() % (mutant.size() / 4)) * 4;
            uint32_t w = words[random() % std::size(words)];
            for (int k = 0; k < 4; ++k) mutant[at + k] = static_cast<uint8_t>(w >> (24 - 8 * k));
          }
        }
      }
      // An exact-size heap copy, so that any read past its end is caught.
      auto* heap = new uint8_t[mutant.size() + (mutant.empty() ? 1 : 0)];
      std::copy(mutant.begin(), mutant.end(), heap);
      auto moov = Moov::initMOOVWithData(heap, static_cast<uint32_t>(mutant.size()));
      if (moov) {
        ++parsed;
        exercise(*moov);
      }
      moov.reset();
      delete[] heap;
    }
  }
  // Most truncations of a tree still yield something; the run must have reached the getters.
  EXPECT_GT(parsed, 0u);
}
