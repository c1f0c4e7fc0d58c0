// libs: qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>

#include "boxes/AtomCreationRequest.h"
#include "boxes/Moov.h"

// A damaged reference's movie box: parsed, questioned the way the repair engine questions it, and
// used for one synthesis of a small repaired movie box.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  auto moov = Moov::initMOOVWithData(data, uint32_t(size));
  if (!moov) return 0;
  (void)moov->getVideoCodecFormat();
  (void)moov->getAudioCodecFormat();
  (void)moov->getTrackDecoderWith(1);
  (void)moov->getTrackDecoderWith(2);
  (void)moov->videoTrackFPS();
  (void)moov->audioTrackFPS();
  (void)moov->videoTrackTimeScale();
  (void)moov->audioTrackTimeScale();
  (void)moov->getOneSampleDurationOfTackType(1);
  (void)moov->getOneSampleDurationOfTackType(2);
  (void)moov->getAVCOneNALUSizeLength();
  (void)moov->SPS();
  (void)moov->PPS();
  (void)moov->VPS();
  (void)moov->getResolution();
  (void)moov->getAverageAudioSize();
  (void)moov->getMaxAudioSize();
  (void)moov->decodeSpecificInfo();
  (void)moov->aacSampleMean();
  (void)moov->duration();
  (void)moov->getSampleSkip();
  (void)moov->convertSelfToData();

  AtomCreationRequest video;
  video.requestType = AtomCreationRequest::kVideoRequest;
  video.timeScale = moov->videoTrackTimeScale();
  video.FPS = moov->videoTrackFPS();
  video.stcoEntries = {48, 4000};
  video.stszEntries = {1000, 900, 800};
  video.stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 2, 1),
                       SampleToChunkEntery::initWithFirstChunk(2, 1, 1)};
  AtomCreationRequest audio;
  audio.requestType = AtomCreationRequest::kAudioRequest;
  audio.timeScale = moov->audioTrackTimeScale();
  audio.FPS = moov->audioTrackFPS();
  audio.stcoEntries = {3000};
  audio.stszEntries = {300, 310};
  audio.stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, 2, 1)};
  if (auto made = moov->createMoovWithVideoRequest(video, audio)) (void)made->convertSelfToData();
  return 0;
}
