#pragma once

#include <cstdint>
#include <memory>

// The header of a media-data box found by the top-level scan.
class Mdat {
 public:
  // Reads a box header from `bytes`; none when the size read is 0.
  static std::unique_ptr<Mdat> initMdatWithBytes(const uint8_t* bytes, uint64_t length, uint64_t offset);

  uint32_t type = 0;
  uint64_t size = 0;
  uint64_t offsetInFile = 0;
};
