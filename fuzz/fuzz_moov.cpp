// libs: qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>

#include "boxes/AtomCreationRequest.h"
#include "boxes/BoxArithmetic.h"
#include "boxes/Moov.h"
#include "foundation/ByteOrder.h"

namespace {

// Whether every container from the box at `p` down is filled exactly by its children: a
// synthesised movie box that fails this is one no player can walk.
bool containerSizesAgree(const uint8_t* p, uint64_t size) {
  using qvr::fourCC;
  if (size < 8 || qvr::readBE32(p) != size) return false;
  switch (qvr::readBE32(p + 4)) {
    case fourCC("moov"):
    case fourCC("trak"):
    case fourCC("mdia"):
    case fourCC("minf"):
    case fourCC("stbl"):
    case fourCC("edts"):
    case fourCC("dinf"):
      break;
    default:
      return true;
  }
  for (uint64_t at = 8; at < size;) {
    if (size - at < 8) return false;
    const uint32_t s = qvr::readBE32(p + at);
    if (s < 8 || s > size - at || !containerSizesAgree(p + at, s)) return false;
    at += s;
  }
  return true;
}

}  // namespace

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
  (void)moov->chunkLayout();
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
  if (auto made = moov->createMoovWithVideoRequest(video, audio)) {
    const auto out = made->convertSelfToData();
    if (!containerSizesAgree(out.data(), out.size())) __builtin_trap();
  }
  return 0;
}
