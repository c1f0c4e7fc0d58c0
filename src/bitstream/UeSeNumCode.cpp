#include "bitstream/UeSeNumCode.h"

#include <bit>

namespace {

// Folds a bit position outside 0..7 into the byte position so that callers handing in odd
// positions still get a well-defined read.
inline void normalise(uint32_t& bytePos, uint32_t& bitPos) {
  if (bitPos > 7) {
    uint64_t b = uint64_t(bytePos) + bitPos / 8;
    bytePos = b > UINT32_MAX ? UINT32_MAX : uint32_t(b);
    bitPos %= 8;
  }
}

// Moves the position forward by `bits`, saturating at the largest representable position
// (far past any buffer) rather than wrapping back into the data.
inline void advance(uint32_t& bytePos, uint32_t& bitPos, uint64_t bits) {
  uint64_t total = uint64_t(bitPos) + bits;
  uint64_t b = uint64_t(bytePos) + total / 8;
  if (b >= UINT32_MAX) {
    bytePos = UINT32_MAX;
    bitPos = 0;
    return;
  }
  bytePos = uint32_t(b);
  bitPos = uint32_t(total % 8);
}

// The 32 bits starting at the position, most significant first, zero past the end of the buffer.
inline uint32_t peek32(std::span<const uint8_t> bytes, uint32_t bytePos, uint32_t bitPos) {
  uint64_t window = 0;
  const size_t size = bytes.size();
  if (bytePos < size && size - bytePos >= 5) {
    const uint8_t* p = bytes.data() + bytePos;
    window = uint64_t(p[0]) << 32 | uint64_t(p[1]) << 24 | uint64_t(p[2]) << 16 | uint64_t(p[3]) << 8 | p[4];
  } else {
    for (uint32_t i = 0; i < 5; ++i) {
      uint64_t idx = uint64_t(bytePos) + i;
      window = window << 8 | (idx < size ? bytes[idx] : 0);
    }
  }
  return uint32_t(window >> (8 - bitPos));
}

}  // namespace

uint32_t UeSeNumCode::getBitInBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton, uint32_t& bitPosition) {
  normalise(bytePostiton, bitPosition);
  uint32_t bit = bytePostiton < bytes.size() ? (bytes[bytePostiton] >> (7 - bitPosition)) & 1u : 0u;
  advance(bytePostiton, bitPosition, 1);
  return bit;
}

uint32_t UeSeNumCode::getUnitCodeNumFromBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton,
                                              uint32_t& bitPosition, uint32_t length) {
  if (length == 0) return 0;
  normalise(bytePostiton, bitPosition);
  if (length > 32) {
    // Only skips are this long; a 32-bit accumulator would end up holding the last 32 bits.
    advance(bytePostiton, bitPosition, uint64_t(length) - 32);
    length = 32;
  }
  uint32_t value = peek32(bytes, bytePostiton, bitPosition);
  advance(bytePostiton, bitPosition, length);
  return length == 32 ? value : value >> (32 - length);
}

uint32_t UeSeNumCode::getUEVCodeNumFromBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton,
                                             uint32_t& bitPosition) {
  normalise(bytePostiton, bitPosition);
  uint32_t head = peek32(bytes, bytePostiton, bitPosition);
  // With 32 zeros in a row there is no defined value; the prefix stops at 31 and the 32nd bit is
  // taken as its end.
  uint32_t k = head == 0 ? 31u : uint32_t(std::countl_zero(head));
  advance(bytePostiton, bitPosition, uint64_t(k) + 1);
  uint32_t suffix = getUnitCodeNumFromBytes(bytes, bytePostiton, bitPosition, k);
  return ((uint32_t(1) << k) - 1) + suffix;
}

uint32_t UeSeNumCode::getSEVCodeNumFromBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton,
                                             uint32_t& bitPosition) {
  uint32_t k = getUEVCodeNumFromBytes(bytes, bytePostiton, bitPosition);
  uint32_t m = (k + 1) / 2;
  return (k & 1u) ? m : uint32_t(0) - m;
}
