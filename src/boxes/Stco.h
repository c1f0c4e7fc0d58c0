#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Chunk offset box: "stco" (4-byte offsets) or "co64" (8-byte offsets), held as 64-bit numbers.
class Stco {
 public:
  // Never null for a non-null buffer. Offsets that do not lie inside the box are dropped;
  // `numberOfEntries` stays as read.
  static std::unique_ptr<Stco> initSTCOWithBytes(const uint8_t* bytes, uint32_t size, bool isCO64);
  // Always a "co64" box.
  static std::unique_ptr<Stco> initWithChunkOffsetTable(const std::vector<uint64_t>& table);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Serialises the table in the width `isCO64` names; `numberOfEntries` and `size` are set to
  // what is written.
  void createWriteableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  bool isCO64 = false;
  std::vector<uint64_t> chunkOffsetTable;
  std::vector<uint8_t> writeableData;
};
