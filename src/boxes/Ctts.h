#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/CompositionOffsetEntery.h"

// Composition offset box ("ctts"). Held as std::shared_ptr: a synthesised video track can reuse
// the reference's table unchanged.
class Ctts {
 public:
  // Never null for a non-null buffer. Fills `writeableData` at once from the entries actually
  // present, so a truncated box is written back with a count and `size` that agree with its
  // bytes; `numberOfEntries` stays as read.
  static std::unique_ptr<Ctts> initCTTSWithBytes(const uint8_t* bytes, uint32_t size);
  // A table over the given runs (for offsets the repair engine derived itself).
  static std::unique_ptr<Ctts> initCTTSWithCompositionOffsetTable(const std::vector<CompositionOffsetEntery>& table);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Serialises the entries present and sets `size` to the serialised length.
  void createWriteableData();

  // The first run's offset unless it is 0, then the second's (0 when there is no such run).
  uint32_t getCompositionOffset() const;

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<CompositionOffsetEntery> compositionOffsetTable;
  std::vector<uint8_t> writeableData;
};
