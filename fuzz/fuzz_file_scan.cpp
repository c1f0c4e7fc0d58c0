// libs: qvr_repair qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "boxes/AtomCreationRequest.h"
#include "boxes/Moov.h"
#include "repair/File.h"

// The tolerant top-level scan of a reference file, and the questions the job asks of the result.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = qvr::fuzz::scratchPath("scan.mov");
  qvr::fuzz::writeWhole(path, data, size);
  auto file = File::parseFileAtPath(path);
  if (!file) return 0;
  (void)file->videoFPS();
  (void)file->audioFPS();
  (void)file->videoTrackTimeScale();
  (void)file->audioTrackTimeScale();
  (void)file->AVCOneNaluSizeLength();
  (void)file->SPS();
  (void)file->PPS();
  (void)file->VPS();
  (void)file->decoderSpecificInfo();
  (void)file->numberOfTracks();
  if (file->moov) (void)file->moov->chunkLayout();
  (void)file->durationOfFile();
  if (size >= 24) (void)File::validMoovInnerTagInBytes(data);
  return 0;
}
