#include "boxes/AudioSampleDescriptionEntery.h"

#include <algorithm>

#include "boxes/ByteStream.h"
#include "boxes/EsdsDecoder.h"

namespace {
constexpr uint32_t kMp4a = 0x6D703461;  // "mp4a"
constexpr uint32_t kEsds = 0x65736473;  // "esds"
constexpr uint32_t kVersion1Size = 52;
constexpr uint32_t kVersion2Size = 72;
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
    if (version == 2 && size >= kVersion2Size) {
      // The version-0 fields hold fixed values here; the real layout follows them. Only packets
      // of whole frames are uncompressed audio the repair can count.
      in.readUI32();  // size of the fixed structure
      in.readUI64();  // sample rate, a double
      numberOfChannels = static_cast<uint16_t>(std::min<uint32_t>(in.readUI32(), UINT16_MAX));
      in.readUI32();  // always 0x7F000000
      sampleSize = static_cast<uint16_t>(std::min<uint32_t>(in.readUI32(), UINT16_MAX));
      formatFlags = in.readUI32();
      const uint32_t packetBytes = in.readUI32();
      const uint32_t packetFrames = in.readUI32();
      bytesPerFrame = packetFrames == 1 ? packetBytes : 0;
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

uint32_t AudioSampleDescriptionEntery::pcmFrameBytes() const {
  if ((version == 1 || version == 2) && bytesPerFrame > 0) return bytesPerFrame;
  return uint32_t(numberOfChannels) * (sampleSize / 8u);
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
