#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Sound media information header ("smhd", 16 bytes).
class Smhd {
 public:
  static std::unique_ptr<Smhd> initSMHDWithBytes(const uint8_t* bytes, uint32_t size);
  static std::unique_ptr<Smhd> init();
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint16_t balance = 0;
  uint16_t reserved = 0;

  std::vector<uint8_t> writeableData;
};
