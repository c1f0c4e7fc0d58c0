// libs: qvr_boxes qvr_bitstream qvr_foundation
#include <cstddef>
#include <cstdint>

#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/DecoderConfigDescriptor.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/EsdsDecoder.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/ObjectDescriptor.h"
#include "boxes/SLConfigDescriptor.h"
#include "boxes/Stsd.h"
#include "boxes/VideoSampleDescriptionEntery.h"

// A sample description box, and the same bytes through every descriptor and configuration record
// parser on its own (each of them meets whatever a damaged box hands it).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > UINT32_MAX) return 0;
  const uint32_t n = uint32_t(size);
  if (auto stsd = Stsd::initSTSDWithBytes(data, n)) {
    (void)stsd->getDecoder();
    (void)stsd->decoderSpecificInfo();
    (void)stsd->getResolution();
    (void)stsd->avc1NaluSizeLength();
    (void)stsd->getAvgAudioBitRate();
    (void)stsd->getMaxAudioBitRate();
    (void)stsd->SPS();
    (void)stsd->PPS();
    (void)stsd->VPS();
  }
  // Skipping a box header lands the nested parsers on the payloads they normally see.
  for (uint32_t skip : {0u, 8u, 16u}) {
    if (skip > n) break;
    const uint8_t* p = data + skip;
    const uint32_t m = n - skip;
    (void)EsdsDecoder::initESDSWithBytes(p, m);
    (void)ObjectDescriptor::initObjectDescriptorWithBytes(p, m);
    (void)DecoderConfigDescriptor::initDecoderConfigDescriptorWithBytes(p, m);
    (void)SLConfigDescriptor::initSLConfigDescriptorWithByte(p, m);
    (void)AVCDecoderConfigurationRecord::initAVCCWithBytes(p, m);
    (void)HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(p, m, 1920, 1080);
    (void)AudioSampleDescriptionEntery::initASDEnteryWithBytes(p, m);
    (void)VideoSampleDescriptionEntery::initVSDEnteryWithBytes(p, m);
  }
  return 0;
}
