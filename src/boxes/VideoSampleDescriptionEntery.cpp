#include "boxes/VideoSampleDescriptionEntery.h"

#include <cstring>

#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/ByteStream.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/Utf8Text.h"

namespace {
constexpr uint32_t kAvc1 = 0x61766331;  // "avc1"
constexpr uint32_t kHvc1 = 0x68766331;  // "hvc1"
constexpr uint32_t kAvcC = 0x61766343;  // "avcC"
constexpr uint32_t kHvcC = 0x68766343;  // "hvcC"
constexpr uint32_t kColr = 0x636F6C72;  // "colr"
constexpr uint32_t kFixedSize = 86;
constexpr uint32_t kCompressorNameSize = 32;
}  // namespace

VideoSampleDescriptionEntery::VideoSampleDescriptionEntery() = default;
VideoSampleDescriptionEntery::~VideoSampleDescriptionEntery() = default;

std::unique_ptr<VideoSampleDescriptionEntery> VideoSampleDescriptionEntery::initVSDEnteryWithBytes(const uint8_t* bytes,
                                                                                                   uint32_t size) {
  auto entry = std::make_unique<VideoSampleDescriptionEntery>();
  if (bytes) entry->readBytes(bytes, size);
  return entry;
}

void VideoSampleDescriptionEntery::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  dataFormat = in.readUI32();
  reserved1 = in.readUI32();
  reserved2 = in.readUI16();
  dataReferenceIndex = in.readUI16();
  version = in.readUI16();
  revisionLevel = in.readUI16();
  vendor = in.readUI32();
  temporalQuality = in.readUI32();
  spatialQuality = in.readUI32();
  width = in.readUI16();
  height = in.readUI16();
  horizontalResolution = in.readUI32();
  verticalResolution = in.readUI32();
  dataSize = in.readUI32();
  frameCount = in.readUI16();
  uint8_t name[kCompressorNameSize];
  in.readBytes(name, kCompressorNameSize);
  const void* zero = std::memchr(name, 0, kCompressorNameSize);
  size_t nameLength = zero ? static_cast<const uint8_t*>(zero) - name : kCompressorNameSize;
  compressorName = qvr::utf8Text(name, nameLength);
  depth = in.readUI16();
  colorTableID = static_cast<int16_t>(in.readUI16());

  if ((dataFormat != kAvc1 && dataFormat != kHvc1) || size < kFixedSize + 1) return;
  uint32_t p = kFixedSize;
  while (uint64_t(p) + 8 <= size) {
    ByteStream child(bytes + p, size - p);
    uint32_t s = child.readUI32();
    uint32_t t = child.readUI32();
    // A child claiming less than its own header would stall the scan; it is crossed bytewise.
    bool fits = s >= 8 && s <= size - p;
    if (fits && t == kAvcC) {
      decoder = std::shared_ptr<AVCDecoderConfigurationRecord>(
          AVCDecoderConfigurationRecord::initAVCCWithBytes(bytes + p, s));
      p += s;
    } else if (fits && t == kHvcC) {
      std::shared_ptr<HVCDecoderConfigurationRecord> record =
          HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(bytes + p, s, width, height);
      if (record) {
        decoder = std::move(record);
      } else {
        decoder = std::monostate{};
      }
      p += s;
    } else if (fits && t == kColr) {
      p += s;
    } else {
      ++p;
    }
  }
}

int64_t VideoSampleDescriptionEntery::getDataFormat() const {
  if (dataFormat == kAvc1) return 1001;
  if (dataFormat == kHvc1) return 1002;
  return 0;
}

int32_t VideoSampleDescriptionEntery::lengthSizeMinusOne() const {
  if (dataFormat == kHvc1) return 3;
  if (dataFormat != kAvc1) return 0;
  const AVCDecoderConfigurationRecord* record = avcC();
  return record ? record->lengthSizeMinusOne : 0;
}

std::string VideoSampleDescriptionEntery::getResolution() const {
  return std::to_string(width) + "x" + std::to_string(height);
}

const AVCDecoderConfigurationRecord* VideoSampleDescriptionEntery::avcC() const {
  auto* p = std::get_if<std::shared_ptr<AVCDecoderConfigurationRecord>>(&decoder);
  return p ? p->get() : nullptr;
}

const HVCDecoderConfigurationRecord* VideoSampleDescriptionEntery::hvcC() const {
  auto* p = std::get_if<std::shared_ptr<HVCDecoderConfigurationRecord>>(&decoder);
  return p ? p->get() : nullptr;
}
