#include "boxes/HVCDecoderConfigurationRecord.h"

#include "bitstream/PPS_265.h"
#include "bitstream/SPS_265.h"
#include "bitstream/VPS_265.h"
#include "boxes/ByteStream.h"
#include "foundation/ByteOrder.h"

namespace {
constexpr uint32_t kNumOfArraysOffset = 30;
constexpr uint32_t kArraysStart = 31;
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
  // The arrays are walked as laid out rather than scanned for header bytes: encoders store SEI
  // arrays here too (x265 its settings as text, Apple devices Dolby Vision data), and a scan
  // takes letters such as 'B' or 'D' in them for SPS and PPS headers, replacing the real
  // parameter sets with whatever follows.
  const uint8_t numOfArrays = bytes[kNumOfArraysOffset];
  uint32_t p = kArraysStart;
  for (uint32_t a = 0; a < numOfArrays; ++a) {
    if (size - p < 3) break;
    const uint8_t arrayType = bytes[p] & 0x3F;
    const uint16_t numNalus = qvr::readBE16(bytes + p + 1);
    p += 3;
    for (uint32_t i = 0; i < numNalus; ++i) {
      if (size - p < 2) return true;
      const uint16_t length = qvr::readBE16(bytes + p);
      p += 2;
      const uint8_t unitType = length > 0 && p < size ? (bytes[p] >> 1) & 0x3F : arrayType;
      // Counts and sizes are those of the last unit met of each kind, as announced.
      if (unitType == kVpsType) {
        numOfVPS = static_cast<uint8_t>(numNalus);
        vpsSize = length;
      } else if (unitType == kSpsType) {
        numOfSPS = static_cast<uint8_t>(numNalus);
        spsSize = length;
      } else if (unitType == kPpsType) {
        numOfPPS = static_cast<uint8_t>(numNalus);
        ppsSize = length;
      }
      if (length > size - p) return true;
      if (length > 0) parseUnit(unitType, bytes + p, length);
      p += length;
    }
  }
  return true;
}

void HVCDecoderConfigurationRecord::parseUnit(uint8_t unitType, const uint8_t* unit, uint32_t length) {
  // Picture parameter sets are read against the sequence parameter set met before them.
  if (unitType == kVpsType) vps = VPS_265::initVPS265WithBytes(unit, length);
  if (unitType == kSpsType) sps = SPS_265::initSPS265WithBytes(unit, length, width, height);
  if (unitType == kPpsType) pps = PPS_265::initPPS265WithBytes(unit, length, sps.get());
}

std::shared_ptr<RBSPObject> HVCDecoderConfigurationRecord::parameterSetOfType(uint8_t nalUnitType) const {
  if (nalUnitType == kVpsType) return vps;
  if (nalUnitType == kSpsType) return sps;
  if (nalUnitType == kPpsType) return pps;
  return nullptr;
}
