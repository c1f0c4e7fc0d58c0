#pragma once

#include <cstdint>
#include <memory>

// Base media information header ("gmhd"); only its header is kept. It is never written.
class Gmhd {
 public:
  static std::unique_ptr<Gmhd> initGMHDWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  uint32_t size = 0;
  uint32_t type = 0;
};
