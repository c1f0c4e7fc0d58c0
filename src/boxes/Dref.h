#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/DrefEntry.h"

// Data reference box ("dref").
class Dref {
 public:
  static std::unique_ptr<Dref> initDREFWithBytes(const uint8_t* bytes, uint32_t size);
  // A 28-byte box with one self-reference entry of the given type.
  static std::unique_ptr<Dref> initDREFWithDrefEnteryType(uint32_t entryType);
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<std::unique_ptr<DrefEntry>> entries;

  std::vector<uint8_t> writeableData;
};
