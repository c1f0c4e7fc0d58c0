#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Video media information header ("vmhd", 20 bytes).
class Vmhd {
 public:
  static std::unique_ptr<Vmhd> initVMHDWithBytes(const uint8_t* bytes, uint32_t size);
  // The header written for repaired files: flags 1, copy mode, black op colour.
  static std::unique_ptr<Vmhd> init();
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint16_t graphicsMode = 0;
  uint16_t opColor_R = 0;
  uint16_t opColor_G = 0;
  uint16_t opColor_B = 0;

  std::vector<uint8_t> writeableData;
};
