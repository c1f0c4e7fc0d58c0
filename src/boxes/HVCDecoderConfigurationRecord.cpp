#include "boxes/HVCDecoderConfigurationRecord.h"

#include "boxes/ByteStream.h"
#include "foundation/ByteOrder.h"

namespace {
constexpr uint32_t kNumOfArraysOffset = 30;
constexpr uint32_t kScanStart = 31;
constexpr uint32_t kMinScanSize = 34;
constexpr uint8_t kVpsType = 32;
constexpr uint8_t kSpsType = 33;
constexpr uint8_t kPpsType = 34;
}  // namespace

HVCDecoderConfigurationRecord::HVCDecoderConfigurationRecord() = default;
HVCDecoderConfigurationRecord::~HVCDecoderConfigurationRecord() = default;

std::unique_ptr<HVCDecoderConfigurationRecord> HVCDecoderConfigurationRecord::initHVCDecoderWithBytes(
    const uint8_t* bytes, uint32_t inSize, uint32_t width, uint32_t andHeight) {
  if (!bytes) return nullptr;
  auto record = std::make_unique<HVCDecoderConfigurationRecord>();
  record->width = width;
  record->height = andHeight;
  if (!record->readBytes(bytes, inSize)) return nullptr;
  return record;
}

bool HVCDecoderConfigurationRecord::readBytes(const uint8_t* bytes, uint32_t size) {
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  // The array count is byte 30, so a box must reach past it to have one at all.
  if (size <= kNumOfArraysOffset || bytes[kNumOfArraysOffset] < 3) return false;
  if (size < kMinScanSize) return true;

  for (uint32_t p = kScanStart; p < size - 2; ++p) {
    const uint8_t unitType = bytes[p] >> 1;
    if (unitType != kVpsType && unitType != kSpsType && unitType != kPpsType) continue;
    // p would be the header byte of the array's first unit: its count's low byte sits three
    // bytes before it and its length two bytes before it. Later units carry their own length.
    const uint8_t count = bytes[p - 3];
    if (unitType == kVpsType) numOfVPS = count;
    if (unitType == kSpsType) numOfSPS = count;
    if (unitType == kPpsType) numOfPPS = count;
    uint32_t start = p;
    uint16_t length = qvr::readBE16(bytes + p - 2);
    for (uint32_t i = 0; i < count; ++i) {
      if (i > 0) {
        if (size - p < 2) break;
        length = qvr::readBE16(bytes + p);
        start = p + 2;
      }
      if (unitType == kVpsType) vpsSize = length;
      if (unitType == kSpsType) spsSize = length;
      if (unitType == kPpsType) ppsSize = length;
      if (length > size - start) break;
      parseUnit(unitType, bytes + start, length);
      p = start + length;
    }
  }
  return true;
}

void HVCDecoderConfigurationRecord::parseUnit(uint8_t unitType, const uint8_t* unit, uint32_t length) {
  // The H.265 parameter-set parsers are not part of the build yet; until they are, the record
  // keeps the counts and sizes only.
  (void)unitType;
  (void)unit;
  (void)length;
}

std::shared_ptr<RBSPObject> HVCDecoderConfigurationRecord::parameterSetOfType(uint8_t nalUnitType) const {
  (void)nalUnitType;
  return nullptr;
}
