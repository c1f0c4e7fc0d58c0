#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Sync sample box ("stss"): 1-based numbers of the samples a decoder can start from.
class Stss {
 public:
  // Never null for a non-null buffer; numbers that do not lie inside the box are dropped.
  static std::unique_ptr<Stss> initSTSSWithBytes(const uint8_t* bytes, uint32_t size);
  // The regular pattern 1, D, 2D - 1, ... for a track of `sampleCount` samples whose reference
  // has its second sync sample at D (`andDifference`). Numbers past the last sample, or not
  // above the previous one, are not written.
  static std::unique_ptr<Stss> initSTSSWithSampleCount(uint32_t sampleCount, uint32_t andDifference);
  // Exactly the given numbers (an empty list gives an empty table).
  static std::unique_ptr<Stss> initSTSSWithSyncSampleTable(const std::vector<uint32_t>& sampleNumbers);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Serialises the table; `numberOfEntries` and `size` are set to what is written.
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<uint32_t> syncSampleTable;
  std::vector<uint8_t> writeableData;
};
