#pragma once

#include <cstdint>
#include <optional>
#include <vector>

// One run of the time-to-sample table: `sampleCount` samples of `sampleDuration` each.
class TimeToSampleEntery {
 public:
  // None when fewer than 8 bytes are given.
  static std::optional<TimeToSampleEntery> initTTSEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  static TimeToSampleEntery initTTSEnteryWithSampleCount(uint32_t sampleCount, uint32_t andSampleDuration);
  void createWriteableData();

  uint32_t sampleCount = 0;
  uint32_t sampleDuration = 0;
  std::vector<uint8_t> writeableData;  // the 8-byte record
};
