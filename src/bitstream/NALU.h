#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bitstream/RBSPObject.h"

class SPS;
class PPS;
class VPS_265;
class SPS_265;
class PPS_265;

// One decoded length-prefixed NAL unit and the verdict on whether it is plausible against the
// reference file's parameter sets: an initialiser that judges the unit invalid returns null.
class NALU {
 public:
  uint32_t forbiddenBit = 0;
  uint32_t NRI = 0;
  uint32_t NALType = 0;
  uint32_t NLayerId = 0;
  uint32_t NTempID = 0;
  // Length prefix value plus the prefix length: bytes from the prefix start to the unit's end.
  uint32_t nalSize = 0;
  int32_t frameNum = -1;
  int32_t sliceType = -1;
  int32_t firstMBInSlice = -1;
  // H.264 slices: a field picture, and which field (0 top, 1 bottom); 0 for frames.
  int32_t fieldPicFlag = 0;
  int32_t bottomFieldFlag = 0;
  std::optional<std::string> setName;
  std::unique_ptr<RBSPObject> RBSP;

  // H.264: decoded with the reference SPS/PPS. `bytes` starts at the length prefix and holds
  // `bytesSize` valid bytes; nothing beyond them is read.
  static std::unique_ptr<NALU> initNALUWithBytes(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                                 const SPS* sps, const PPS* pps);
  // H.265: the VPS argument is present.
  static std::unique_ptr<NALU> initNALUWithBytes(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                                 const VPS_265* vps, const SPS_265* sps, const PPS_265* pps);
  static std::unique_ptr<NALU> readBytesForAVC(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                               const SPS* sps, const PPS* pps);
  // A picture wrapped in a prefix unit, described by its first slice (the window must reach it).
  static std::unique_ptr<NALU> readWrappedPicture(const uint8_t* bytes, uint32_t bytesSize, uint32_t L, uint64_t prefix,
                                                  const SPS* sps, const PPS* pps);
  // Bytes a candidate needs so that a wrapped picture's first slice lies within them.
  static constexpr uint32_t kWrappedWindow = 4096;
  static std::unique_ptr<NALU> readBytesForHVC(const uint8_t* bytes, uint32_t bytesSize, uint32_t SizeBytesLength,
                                               const VPS_265* vps, const SPS_265* sps, const PPS_265* pps);
  // A bare H.264 header byte: type and nal_ref_idc tests only, nalSize 0.
  static std::unique_ptr<NALU> initNALUWithByte(uint8_t header);
};
