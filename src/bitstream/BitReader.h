#pragma once

#include <cstdint>
#include <span>

#include "bitstream/UeSeNumCode.h"

namespace qvr {

// A reading position over one NAL unit's bytes, so that the parsers read like the standard's
// syntax tables. All reads go through UeSeNumCode and are bounded by the span.
class BitReader {
 public:
  BitReader(const uint8_t* bytes, uint32_t size, uint32_t startByte = 0)
      : bytes_(bytes ? std::span<const uint8_t>(bytes, size) : std::span<const uint8_t>()), byte_(startByte) {}

  uint32_t u(uint32_t n) { return UeSeNumCode::getUnitCodeNumFromBytes(bytes_, byte_, bit_, n); }
  uint32_t u1() { return UeSeNumCode::getBitInBytes(bytes_, byte_, bit_); }
  uint32_t ue() { return UeSeNumCode::getUEVCodeNumFromBytes(bytes_, byte_, bit_); }
  uint32_t se() { return UeSeNumCode::getSEVCodeNumFromBytes(bytes_, byte_, bit_); }

  // Once the position has left the buffer every further read is zero bits, so loops over counts
  // taken from damaged data can stop there without changing any value they would produce.
  bool pastEnd() const { return byte_ >= bytes_.size(); }
  uint32_t bytePosition() const { return byte_; }
  uint32_t bitPosition() const { return bit_; }

 private:
  std::span<const uint8_t> bytes_;
  uint32_t byte_ = 0;
  uint32_t bit_ = 0;
};

// Values read with ue(v)/u(n) are kept in int32 fields; derivations from them wrap in 32 bits as
// the fields' arithmetic is defined, without signed overflow.
inline int32_t wrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) + uint32_t(b)); }
inline int32_t wrapMul(int32_t a, int32_t b) { return static_cast<int32_t>(uint32_t(a) * uint32_t(b)); }

}  // namespace qvr
