#pragma once

#include <cmath>
#include <cstdint>

#include "foundation/ByteOrder.h"

namespace qvr {

// Durations and rates are computed in double from values a damaged reference may have set to
// zero; the conversion back must stay defined for infinities and NaN.
inline uint32_t truncateToUInt32(double value) {
  if (!(value > 0)) return 0;  // also NaN
  if (value >= 4294967295.0) return UINT32_MAX;
  return static_cast<uint32_t>(value);
}

// Child scans of the containers: the size and type of a candidate child at `p`.
struct ChildHeader {
  uint32_t size;
  uint32_t type;
};
inline ChildHeader childHeaderAt(const uint8_t* bytes, uint64_t p) {
  return {readBE32(bytes + p), readBE32(bytes + p + 4)};
}

constexpr uint32_t fourCC(const char (&code)[5]) {
  return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 | uint32_t(uint8_t(code[2])) << 8 |
         uint32_t(uint8_t(code[3]));
}

}  // namespace qvr
