#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class SPS;
class PPS;

// H.264 decoder configuration record ("avcC"): the NAL length-prefix size and the parameter
// sets. When several sets of a kind are stored, the last one is kept. The parsed sets are
// shared because the repair engine hands them to every candidate NAL unit.
class AVCDecoderConfigurationRecord {
 public:
  AVCDecoderConfigurationRecord();
  ~AVCDecoderConfigurationRecord();
  // Never null for a non-null buffer; sets that do not fit the box are left out.
  static std::unique_ptr<AVCDecoderConfigurationRecord> initAVCCWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  uint32_t size = 0;
  uint32_t type = 0;
  uint8_t configurationVersion = 0;
  uint8_t AVCProfileIndication = 0;
  uint8_t profile_compatibility = 0;
  uint8_t AVCLevelIndication = 0;
  uint8_t lengthSizeMinusOne = 0;  // low 2 bits only
  uint32_t numOfSequenceParameterSets = 0;
  uint16_t sequenceParameterSetLength = 0;
  std::vector<uint8_t> sequenceParameterSetNALUnit;
  uint8_t numOfPictureParameterSets = 0;
  uint16_t pictureParameterSetLength = 0;
  std::vector<uint8_t> pictureParameterSetNALUnit;
  std::shared_ptr<SPS> sps;
  std::shared_ptr<PPS> pps;
};
