#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// One run of the sample-to-chunk table: from chunk `firstChunk` on (1-based), every chunk holds
// `samplesPerChunk` samples described by entry `sampleDescID`. A value type: the repair engine
// builds arrays of them.
class SampleToChunkEntery {
 public:
  // None when fewer than 12 bytes are given.
  static std::optional<SampleToChunkEntery> initSTCEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  static SampleToChunkEntery initWithFirstChunk(uint32_t firstChunk, uint32_t samplePerChunk, uint32_t andSampleDescID);
  void asignWritableData();

  uint32_t firstChunk = 0;
  uint32_t samplesPerChunk = 0;
  uint32_t sampleDescID = 0;
  std::vector<uint8_t> writeableData;  // the 12-byte record
};
