#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Fixed-width loads and stores in both byte orders. Movie boxes and NAL length prefixes are
// big-endian; AVI fields are little-endian.
namespace qvr {

inline uint16_t readBE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
inline uint32_t readBE24(const uint8_t* p) { return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2]; }
inline uint32_t readBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t readBE64(const uint8_t* p) { return uint64_t(readBE32(p)) << 32 | readBE32(p + 4); }
inline uint16_t readLE16(const uint8_t* p) { return static_cast<uint16_t>(p[1] << 8 | p[0]); }
inline uint32_t readLE32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline uint64_t readLE64(const uint8_t* p) { return uint64_t(readLE32(p + 4)) << 32 | readLE32(p); }

inline void putBE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
inline void putBE24(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 16));
  putBE16(out, uint16_t(v));
}
inline void putBE32(std::vector<uint8_t>& out, uint32_t v) {
  putBE16(out, uint16_t(v >> 16));
  putBE16(out, uint16_t(v));
}
inline void putBE64(std::vector<uint8_t>& out, uint64_t v) {
  putBE32(out, uint32_t(v >> 32));
  putBE32(out, uint32_t(v));
}
inline void putLE16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void putLE32(std::vector<uint8_t>& out, uint32_t v) {
  putLE16(out, uint16_t(v));
  putLE16(out, uint16_t(v >> 16));
}
inline void putLE64(std::vector<uint8_t>& out, uint64_t v) {
  putLE32(out, uint32_t(v));
  putLE32(out, uint32_t(v >> 32));
}
inline void storeBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void storeLE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace qvr
