#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "boxes/SampleToChunkEntery.h"

// Sample-to-chunk box ("stsc"). Held as std::shared_ptr: a synthesised PCM track can reuse the
// reference's table.
class Stsc {
 public:
  // Never null for a non-null buffer. Entries that do not lie inside the box are dropped;
  // `numberOfEntries` stays as read until the table is written again.
  static std::unique_ptr<Stsc> initSTSCWithBytes(const uint8_t* bytes, uint32_t size);
  static std::unique_ptr<Stsc> initSTSCWithSampleToChunkTable(const std::vector<SampleToChunkEntery>& table);
  void readBytes(const uint8_t* bytes, uint32_t size);
  // Regenerates `writeableData` from the entries present; `numberOfEntries` and `size` are set
  // to what is written, so a truncated parsed table is written consistently.
  void asignWritableData();

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<SampleToChunkEntery> SampleToChunkTable;
  std::vector<uint8_t> writeableData;
};
