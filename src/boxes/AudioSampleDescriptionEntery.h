#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "boxes/SampleDescriptionEntery.h"

class EsdsDecoder;

// Sound sample entry ("mp4a", "sowt", "twos", and the other uncompressed "lpcm", "in24", "in32",
// "fl32", "fl64"). An "mp4a" entry carries its AAC configuration in an elementary stream
// descriptor box found anywhere after the fixed fields. A version-2 entry ("lpcm") keeps its
// channels, bits per channel and bytes per frame in fields of its own, read into the same members.
class AudioSampleDescriptionEntery : public SampleDescriptionEntery {
 public:
  AudioSampleDescriptionEntery();
  ~AudioSampleDescriptionEntery() override;
  // Never null for a non-null buffer; fields that do not fit a short entry stay 0.
  static std::unique_ptr<AudioSampleDescriptionEntery> initASDEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  const AudioSampleDescriptionEntery* asAudio() const override { return this; }

  uint32_t getAvgAudioBitRate() const;  // "mp4a" with a decoder configuration, else 0
  uint32_t getMaxAudioBitRate() const;
  // The AudioSpecificConfig bytes of an "mp4a" entry; empty when there are none. Views bytes
  // owned by this entry.
  std::span<const uint8_t> decoderSpecificInfo() const;
  // Bytes of one frame (a sample of every channel) of uncompressed audio; 0 when unknown.
  uint32_t pcmFrameBytes() const;

  uint16_t numberOfChannels = 0;
  uint16_t sampleSize = 0;  // bits per sample
  uint16_t compressionID = 0;
  uint16_t packetSize = 0;
  uint32_t sampleRate = 0;  // 16.16 fixed point
  uint32_t samplePerPacket = 0;
  uint32_t bytesPerPacket = 0;
  uint32_t bytesPerFrame = 0;
  uint32_t bytesPerSample = 0;
  uint32_t formatFlags = 0;  // version 2: float, big-endian, signed...
  std::shared_ptr<EsdsDecoder> decoder;
};
