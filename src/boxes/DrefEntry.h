#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// One data reference entry ("alis", "url ", ...); flag 1 means the media is in this file.
class DrefEntry {
 public:
  static std::unique_ptr<DrefEntry> initDrefEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  // A 12-byte self-reference entry of the given type with flags 1.
  static std::unique_ptr<DrefEntry> initWithType(uint32_t entryType);
  void readBytes(const uint8_t* bytes, uint32_t size);
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flags = 0;

  std::vector<uint8_t> writeableData;
};
