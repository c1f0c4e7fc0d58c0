#pragma once

#include <cstdint>
#include <span>

// Fixed-length and Exp-Golomb readers over a NAL unit's bytes. The reading position travels
// through every call of one parse as two in/out values: the byte index and the bit within that
// byte (0 = most significant). The readers are bounded by the span they are given: bits past its
// end read as 0, so a short or damaged unit (or a fixed-size window cut from a damaged file) can
// never make a parse leave its buffer. Positions may run past the end; they saturate instead of
// wrapping back into the buffer.
class UeSeNumCode {
 public:
  // u(1)
  static uint32_t getBitInBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton, uint32_t& bitPosition);
  // u(n). n = 0 reads nothing. For n > 32 the bits are skipped in O(1) and the last 32 of them
  // are returned, as a 32-bit accumulator would hold them.
  static uint32_t getUnitCodeNumFromBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton, uint32_t& bitPosition,
                                          uint32_t length);
  // ue(v). The zero prefix is capped at 31 bits: after 31 zeros the next bit ends the prefix
  // whatever its value, so the result is at most 2^32 - 2 and never wraps.
  static uint32_t getUEVCodeNumFromBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton, uint32_t& bitPosition);
  // se(v), the signed value returned as its two's complement.
  static uint32_t getSEVCodeNumFromBytes(std::span<const uint8_t> bytes, uint32_t& bytePostiton, uint32_t& bitPosition);
  // H.265 profile_tier_level(): read and discarded, leaving the position just after it.
  static void profile_tier_level(int32_t profilePresentFlag, int32_t maxNumSubLayersMinus1, std::span<const uint8_t> bytes,
                                 uint32_t& bytePostiton, uint32_t& bitPosition);
};
