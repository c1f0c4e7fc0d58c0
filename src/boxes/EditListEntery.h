#pragma once

#include <cstdint>
#include <memory>

// One 12-byte edit list record.
class EditListEntery {
 public:
  // A parsed entry keeps only the integer part of the 16.16 media rate.
  static std::unique_ptr<EditListEntery> initELEnteryWithBytes(const uint8_t* bytes, uint32_t size);
  // A created entry holds the rate in 16.16 form (1 becomes 0x00010000).
  static std::unique_ptr<EditListEntery> initWithTrackDuration(uint32_t trackDuration, uint32_t mediaTime,
                                                               uint32_t mediaRate);
  void readBytes(const uint8_t* bytes, uint32_t size);

  uint32_t trackDuration = 0;
  uint32_t mediaTime = 0;
  uint32_t mediaRate = 0;
};
