#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Sample dependency box ("sdtp"): one dependency byte per sample.
class Sdtp {
 public:
  // Never null for a non-null buffer; a box shorter than its 12-byte header has no bytes.
  static std::unique_ptr<Sdtp> initSDTPWithBytes(const uint8_t* bytes, uint32_t andSize);
  // `sampleCount` bytes: `data` repeated and cut to length. Null when `data` is empty: there is
  // nothing to fill the table from, and the sample table then carries no "sdtp" box.
  static std::unique_ptr<Sdtp> initSDTPWithSampleCount(uint32_t sampleCount, const std::vector<uint8_t>& andData);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Serialises `Data`; `size` is set to the serialised length.
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t versionFlag = 0;
  std::vector<uint8_t> Data;
  std::vector<uint8_t> writeableData;
};
