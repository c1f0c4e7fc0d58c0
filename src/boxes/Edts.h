#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/Elst.h"

// Edit box ("edts"): a holder of one edit list.
class Edts {
 public:
  static std::unique_ptr<Edts> initEDTSWithBytes(const uint8_t* bytes, uint32_t size);
  // A 36-byte box with one edit: `duration` of movie time starting at media time `delta`, rate 1.
  static std::unique_ptr<Edts> initWDTSWithDuration(uint32_t duration, uint32_t delta);
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  std::unique_ptr<Elst> elst;

  std::vector<uint8_t> writeableData;
};
