#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Movie header ("mvhd"). Version-0 boxes are 108 bytes; version-1 boxes (64-bit times and
// duration) are 120 bytes and are read and written in their own layout.
class Mvhd {
 public:
  static std::unique_ptr<Mvhd> initMVHDWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  // Sets the duration and regenerates writeableData (which is empty until the first call).
  void setDuration(uint64_t newDuration);
  // Serialises the current fields into writeableData and sets `size` to the written length.
  void createWriteableData();
  bool isVersion1() const { return (version_Flag >> 24) == 1; }

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint32_t timescale = 0;
  uint64_t duration = 0;
  uint32_t prefferedRate = 0;
  uint16_t preferredVolume = 0;
  uint16_t reserved1 = 0;
  uint64_t reserved2 = 0;
  uint32_t matrix_A = 0, matrix_B = 0, matrix_U = 0, matrix_C = 0, matrix_D = 0, matrix_V = 0, matrix_X = 0,
           matrix_Y = 0, matrix_W = 0;
  uint32_t previewTime = 0;
  uint32_t previewDuration = 0;
  uint32_t posterTime = 0;
  uint32_t selectionTime = 0;
  uint32_t selectionDuration = 0;
  uint32_t currentTime = 0;
  uint32_t nextTrackID = 0;

  std::vector<uint8_t> writeableData;
};
