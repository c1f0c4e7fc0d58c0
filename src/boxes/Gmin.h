#pragma once

#include <cstdint>
#include <memory>

// Base media info ("gmin"), found anywhere inside a media information box.
class Gmin {
 public:
  static std::unique_ptr<Gmin> initGMINWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint16_t graphicsMode = 0;
  uint16_t opColor_R = 0;
  uint16_t opColor_G = 0;
  uint16_t opColor_B = 0;
  uint16_t balance = 0;
  uint16_t reserved = 0;
};
