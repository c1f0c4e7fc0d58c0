#pragma once

#include <cstdint>
#include <memory>

struct RBSPObject;
class VPS_265;
class SPS_265;
class PPS_265;

// H.265 decoder configuration record ("hvcC"). The parameter sets are found by scanning for
// their NAL header bytes rather than by walking the arrays; the last unit of each kind wins.
class HVCDecoderConfigurationRecord {
 public:
  HVCDecoderConfigurationRecord();
  ~HVCDecoderConfigurationRecord();
  // Null when the box is too short to hold its array count or holds fewer than three arrays.
  // `width` and `height` are the enclosing video entry's, handed to the SPS parser.
  static std::unique_ptr<HVCDecoderConfigurationRecord> initHVCDecoderWithBytes(const uint8_t* bytes, uint32_t inSize,
                                                                                uint32_t width, uint32_t andHeight);
  bool readBytes(const uint8_t* bytes, uint32_t size);

  // `vps`, `sps` or `pps` by NAL unit type (32, 33, 34) as their common base; null otherwise.
  std::shared_ptr<RBSPObject> parameterSetOfType(uint8_t nalUnitType) const;

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t numOfVPS = 0;
  uint8_t numOfSPS = 0;
  uint8_t numOfPPS = 0;
  uint16_t vpsSize = 0;
  uint16_t spsSize = 0;
  uint16_t ppsSize = 0;
  std::shared_ptr<VPS_265> vps;
  std::shared_ptr<SPS_265> sps;
  std::shared_ptr<PPS_265> pps;

 private:
  void parseUnit(uint8_t unitType, const uint8_t* unit, uint32_t length);
};
