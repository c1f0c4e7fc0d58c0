#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// MPEG-4 sync layer configuration descriptor (tag 6): kept only as its payload.
class SLConfigDescriptor {
 public:
  static std::unique_ptr<SLConfigDescriptor> initSLConfigDescriptorWithByte(const uint8_t* bytes, uint32_t ofLength);
  void readBytes(const uint8_t* bytes, uint32_t length);

  uint8_t tag = 6;
  uint32_t length = 0;
  std::vector<uint8_t> data;
};
