#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Track header ("tkhd"). Version 0 is 92 bytes; version 1 (64-bit times and duration) is 104
// bytes and keeps its own layout when written back.
class Tkhd {
 public:
  static std::unique_ptr<Tkhd> initTKHDWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  // Sets the duration and regenerates writeableData (empty until the first call).
  void setDuration(uint64_t newDuration);
  // Serialises the current fields into writeableData and sets `size` to the written length.
  void createWriteableData();
  bool isVersion1() const { return (version_Flag >> 24) == 1; }

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint32_t trackID = 0;
  uint32_t reserved1 = 0;
  uint64_t duration = 0;
  uint64_t reserved2 = 0;
  uint16_t layer = 0;
  uint16_t alternateGroup = 0;
  uint16_t volume = 0;
  uint16_t resreved3 = 0;
  uint32_t matrix_A = 0, matrix_B = 0, matrix_U = 0, matrix_C = 0, matrix_D = 0, matrix_V = 0, matrix_X = 0,
           matrix_Y = 0, matrix_W = 0;
  uint32_t trackWidth = 0;
  uint32_t trackHeight = 0;

  std::vector<uint8_t> writeableData;
};
