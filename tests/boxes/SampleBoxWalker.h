#pragma once

// A deliberately simple box walker for tests: it hops from box to box by their sizes, which is
// enough for well-formed files and independent of the byte-scanning containers under test.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sampleboxes {

using Bytes = std::vector<uint8_t>;

inline uint32_t be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint64_t be64(const uint8_t* p) { return uint64_t(be32(p)) << 32 | be32(p + 4); }

struct Box {
  std::string type;
  size_t offset = 0;  // of the header
  size_t size = 0;    // whole box
};

// The boxes lying directly in [begin, end) of `data`.
inline std::vector<Box> children(const Bytes& data, size_t begin, size_t end) {
  std::vector<Box> out;
  size_t p = begin;
  while (p + 8 <= end) {
    uint64_t s = be32(&data[p]);
    if (s == 1 && p + 16 <= end) s = be64(&data[p + 8]);
    if (s == 0) s = end - p;
    if (s < 8 || s > end - p) break;
    out.push_back({std::string(reinterpret_cast<const char*>(&data[p + 4]), 4), p, size_t(s)});
    p += s;
  }
  return out;
}

// The sample table children of one track, by type ("stsd", "stts", ...), plus its handler.
struct TrackTables {
  std::string handler;  // "vide", "soun", ...
  std::map<std::string, Bytes> boxes;
  Bytes stbl;
};

inline std::vector<TrackTables> trackTables(const Bytes& file) {
  std::vector<TrackTables> tracks;
  for (const Box& moov : children(file, 0, file.size())) {
    if (moov.type != "moov") continue;
    for (const Box& trak : children(file, moov.offset + 8, moov.offset + moov.size)) {
      if (trak.type != "trak") continue;
      TrackTables t;
      for (const Box& mdia : children(file, trak.offset + 8, trak.offset + trak.size)) {
        if (mdia.type != "mdia") continue;
        for (const Box& m : children(file, mdia.offset + 8, mdia.offset + mdia.size)) {
          if (m.type == "hdlr" && m.size >= 20)
            t.handler = std::string(reinterpret_cast<const char*>(&file[m.offset + 16]), 4);
          if (m.type != "minf") continue;
          for (const Box& stbl : children(file, m.offset + 8, m.offset + m.size)) {
            if (stbl.type != "stbl") continue;
            t.stbl.assign(file.begin() + stbl.offset, file.begin() + stbl.offset + stbl.size);
            for (const Box& c : children(file, stbl.offset + 8, stbl.offset + stbl.size)) {
              t.boxes[c.type].assign(file.begin() + c.offset, file.begin() + c.offset + c.size);
            }
          }
        }
      }
      tracks.push_back(std::move(t));
    }
  }
  return tracks;
}

}  // namespace sampleboxes
