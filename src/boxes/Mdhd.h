#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Media header ("mdhd"): 32 bytes in version 0, 44 in version 1 (64-bit times and duration).
class Mdhd {
 public:
  static std::unique_ptr<Mdhd> initMDHDWithBytes(const uint8_t* bytes, uint32_t size);
  // A new version-0 header with zero creation and modification times; writeableData is filled.
  static std::unique_ptr<Mdhd> initMDHDWithDuration(uint32_t duration, uint32_t timeScale, uint16_t language,
                                                    uint16_t quality);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Serialises the fields in the layout of the version they carry; sets `size`.
  void createWriteableData();
  bool isVersion1() const { return (version_Flag >> 24) == 1; }

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint32_t timescale = 0;
  uint64_t duration = 0;
  uint16_t language = 0;
  uint16_t quality = 0;

  std::vector<uint8_t> writeableData;
};
