#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/Dref.h"

// Data information box ("dinf"): a holder of one data reference box.
class Dinf {
 public:
  static std::unique_ptr<Dinf> initDINFWithBytes(const uint8_t* bytes, uint32_t size);
  // A 36-byte box whose data reference has one self-reference entry of the given type.
  static std::unique_ptr<Dinf> initDINFWithDrefEnteryType(uint32_t entryType);
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  std::unique_ptr<Dref> dref;

  std::vector<uint8_t> writeableData;
};
