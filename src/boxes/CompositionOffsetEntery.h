#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// One run of the composition offset table: `sampleCount` samples presented `compositionOffset`
// media units after they are decoded.
class CompositionOffsetEntery {
 public:
  // None when fewer than 8 bytes are given.
  static std::optional<CompositionOffsetEntery> initCOEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  static CompositionOffsetEntery initCOEnteryWithSampleCount(uint32_t sampleCount, uint32_t andCompositionOffset);
  void createWriteableData();

  uint32_t sampleCount = 0;
  uint32_t compositionOffset = 0;
  std::vector<uint8_t> writeableData;  // the 8-byte record
};
