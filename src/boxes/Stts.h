#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/TimeToSampleEntery.h"

// Time-to-sample box ("stts").
class Stts {
 public:
  // Never null for a non-null buffer. Entries that do not lie wholly inside the box are dropped;
  // `numberOfEntries` stays as read.
  static std::unique_ptr<Stts> initSTTSWithBytes(const uint8_t* bytes, uint32_t size);
  // One run covering every sample; 24 bytes.
  static std::unique_ptr<Stts> initSTTSWithSampleCount(uint32_t sampleCount, uint32_t andSampleDuration);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Serialises the entries present; `numberOfEntries` and `size` are set to what is written.
  void createWriteableData();

  uint32_t getOneSampleDuration() const;  // duration of the first run, 0 without one

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<TimeToSampleEntery> entries;
  std::vector<uint8_t> writeableData;
};
