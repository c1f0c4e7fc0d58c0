#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/EditListEntery.h"

// Edit list ("elst"). Only complete 12-byte entries inside the box are read.
class Elst {
 public:
  static std::unique_ptr<Elst> initELSTWithBytes(const uint8_t* bytes, uint32_t size);
  // A version-0 list over the given entries (taken over); writeableData is filled.
  static std::unique_ptr<Elst> initELSTWithEditListTable(std::vector<std::unique_ptr<EditListEntery>> table);
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<std::unique_ptr<EditListEntery>> editListTable;

  std::vector<uint8_t> writeableData;
};
