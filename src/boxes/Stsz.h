#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Sample size box ("stsz"): one constant size, or a size per sample when `sampleSize` is 0.
class Stsz {
 public:
  // Never null for a non-null buffer. Sizes are read whenever the box holds them, whatever
  // `sampleSize` says; `numberOfEntries` stays as read.
  static std::unique_ptr<Stsz> initSTSZWithBytes(const uint8_t* bytes, uint32_t size);
  static std::unique_ptr<Stsz> initSTSZWithSampleSizeTable(const std::vector<uint32_t>& table);
  static std::unique_ptr<Stsz> initSTSZWithSampleCount(uint32_t sampleCount, uint32_t andSampleSize);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // With `sampleSize` 0 the table is written and `numberOfEntries` set to its length; otherwise
  // only the header with the count. `size` is set to the serialised length.
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t sampleSize = 0;
  uint32_t numberOfEntries = 0;
  std::vector<uint32_t> SampleSizeTable;
  std::vector<uint8_t> writeableData;
};
