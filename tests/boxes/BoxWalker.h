#pragma once

// A deliberately simple box walker for tests: it hops from box to box by their sizes, which is
// enough for well-formed files and independent of the byte-scanning parsers under test.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace boxwalk {

using Bytes = std::vector<uint8_t>;

inline uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct Box {
  std::string type;
  size_t offset = 0;  // of the header
  size_t size = 0;    // whole box
};

// Appends the boxes lying in [begin, end) of `data` and, depth first, those inside the movie
// box's containers. False when a box runs past its holder or a container's children do not
// fill it exactly.
inline bool walk(const uint8_t* data, size_t begin, size_t end, std::vector<Box>& out) {
  static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf"};
  size_t p = begin;
  while (p + 8 <= end) {
    uint64_t s = be32(data + p);
    if (s == 1 && p + 16 <= end) s = uint64_t(be32(data + p + 8)) << 32 | be32(data + p + 12);
    if (s == 0) s = end - p;
    if (s < 8 || s > end - p) return false;
    out.push_back({std::string(reinterpret_cast<const char*>(data + p + 4), 4), p, size_t(s)});
    if (containers.count(out.back().type) && !walk(data, p + 8, p + s, out)) return false;
    p += s;
  }
  return p == end;
}

inline std::vector<Box> boxes(const Bytes& data) {
  std::vector<Box> out;
  walk(data.data(), 0, data.size(), out);
  return out;
}

}  // namespace boxwalk
