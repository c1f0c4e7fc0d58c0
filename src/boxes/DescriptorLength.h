#pragma once

#include <cstdint>

namespace qvr {

// Reads an MPEG-4 descriptor length starting at `pos` in `bytes[0, end)`. The length is written
// in seven-bit groups, every byte but the last with its top bit set; writers commonly pad short
// lengths with 0x80 bytes (0x80 0x80 0x80 0x22 is 34), which add nothing and are skipped however
// many there are. Up to four significant bytes are decoded. Returns 0, meaning the descriptor is
// absent, when the bytes run out before the last one. `pos` is left just past the length.
inline uint32_t readDescriptorLength(const uint8_t* bytes, uint32_t end, uint32_t& pos) {
  while (pos < end && bytes[pos] == 0x80) ++pos;
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    if (pos >= end) return 0;
    uint8_t b = bytes[pos++];
    length = length << 7 | (b & 0x7F);
    if (!(b & 0x80)) return length;
  }
  return length;
}

}  // namespace qvr
