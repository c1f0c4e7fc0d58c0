#include "boxes/AudioSampleDescriptionEntery.h"

#include "boxes/ByteStream.h"
#include "boxes/EsdsDecoder.h"

namespace {
constexpr uint32_t kMp4a = 0x6D703461;  // "mp4a"
constexpr uint32_t kEsds = 0x65736473;  // "esds"
constexpr uint32_t kVersion1Size = 52;
constexpr uint32_t kFixedSize = 36;
}  // namespace

AudioSampleDescriptionEntery::AudioSampleDescriptionEntery() = default;
AudioSampleDescriptionEntery::~AudioSampleDescriptionEntery() = default;

std::unique_ptr<AudioSampleDescriptionEntery> AudioSampleDescriptionEntery::initASDEnteryWithBytes(const uint8_t* bytes,
                                                                                                   uint32_t size) {
  auto entry = std::make_unique<AudioSampleDescriptionEntery>();
  if (bytes) entry->readBytes(bytes, size);
  return entry;
}

void AudioSampleDescriptionEntery::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  dataFormat = in.readUI32();
  reserved1 = in.readUI32();
  reserved2 = in.readUI16();
  dataReferenceIndex = in.readUI16();
  version = in.readUI16();
  revisionLevel = in.readUI16();
  vendor = in.readUI32();
  numberOfChannels = in.readUI16();
  sampleSize = in.readUI16();
  compressionID = in.readUI16();
  packetSize = in.readUI16();
  sampleRate = in.readUI32();

  if (dataFormat != kMp4a) {
    if (version == 1 && size >= kVersion1Size) {
      samplePerPacket = in.readUI32();
      bytesPerPacket = in.readUI32();
      bytesPerFrame = in.readUI32();
      bytesPerSample = in.readUI32();
    }
    return;
  }
  // The "esds" may sit directly after the fixed fields, after the version-1 fields, or inside
  // a child such as "wave": every byte is a candidate start.
  if (size < kFixedSize + 5) return;
  uint32_t p = kFixedSize;
  while (uint64_t(p) + 8 <= size) {
    ByteStream child(bytes + p, size - p);
    uint32_t s = child.readUI32();
    uint32_t t = child.readUI32();
    // A size below the header would not move the scan forward.
    if (t == kEsds && s >= 8 && s <= size - p) {
      decoder = EsdsDecoder::initESDSWithBytes(bytes + p, s);
      p += s;
    } else {
      ++p;
    }
  }
}

uint32_t AudioSampleDescriptionEntery::getAvgAudioBitRate() const {
  return dataFormat == kMp4a && decoder ? decoder->getAvgBitRate() : 0;
}

uint32_t AudioSampleDescriptionEntery::getMaxAudioBitRate() const {
  return dataFormat == kMp4a && decoder ? decoder->getMaxBitRate() : 0;
}

std::span<const uint8_t> AudioSampleDescriptionEntery::decoderSpecificInfo() const {
  if (dataFormat != kMp4a || !decoder) return {};
  return decoder->decoderSpecificInfo();
}
