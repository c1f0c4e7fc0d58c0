#pragma once

// Builds small movie boxes byte by byte for the box model's tests: each helper returns the
// serialised box, so a test reads like the tree it describes.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "BoxWalker.h"
#include "boxes/AtomCreationRequest.h"

namespace treebuilder {

using Bytes = std::vector<uint8_t>;

inline void put32(Bytes& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v >> 8));
  b.push_back(static_cast<uint8_t>(v));
}
inline void put64(Bytes& b, uint64_t v) {
  put32(b, static_cast<uint32_t>(v >> 32));
  put32(b, static_cast<uint32_t>(v));
}
inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

inline Bytes box(const std::string& type, std::initializer_list<Bytes> children) {
  Bytes out;
  put32(out, 0);
  out.insert(out.end(), type.begin(), type.begin() + 4);
  for (const auto& c : children) append(out, c);
  const uint32_t size = static_cast<uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  return out;
}
inline Bytes raw(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words) put32(b, w);
  return b;
}

inline Bytes mvhd(uint32_t timescale, uint32_t duration) {
  Bytes p = raw({0, 0, 0, timescale, duration, 0x00010000});
  put16(p, 0x0100);
  put16(p, 0);
  put64(p, 0);
  append(p, raw({0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000}));
  append(p, raw({0, 0, 0, 0, 0, 0, 3}));
  return box("mvhd", {p});
}
inline Bytes tkhd(uint32_t trackID, uint32_t duration) {
  Bytes p = raw({0x0000000F, 0, 0, trackID, 0, duration});
  put64(p, 0);
  put32(p, 0);
  put32(p, 0);
  append(p, raw({0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000}));
  append(p, raw({320u << 16, 240u << 16}));
  return box("tkhd", {p});
}
inline Bytes mdhd(uint32_t timescale, uint32_t duration) {
  Bytes p = raw({0, 0, 0, timescale, duration});
  put16(p, 0x55C4);
  put16(p, 0);
  return box("mdhd", {p});
}
inline Bytes hdlr(const std::string& componentType, const std::string& subtype) {
  Bytes p = raw({0});
  p.insert(p.end(), componentType.begin(), componentType.begin() + 4);
  p.insert(p.end(), subtype.begin(), subtype.begin() + 4);
  append(p, raw({0, 0, 0}));
  p.push_back(0);
  p.push_back(0);
  return box("hdlr", {p});
}
inline Bytes vmhd() { return box("vmhd", {raw({1, 0, 0})}); }
inline Bytes smhd() { return box("smhd", {raw({0, 0})}); }
inline Bytes gmhd() { return box("gmhd", {box("gmin", {raw({0, 0, 0, 0})})}); }
inline Bytes dinf() { return box("dinf", {box("dref", {raw({0, 1}), box("url ", {raw({1})})})}); }

// Sample entries.
inline Bytes avc1Entry(uint16_t width, uint16_t height) {
  Bytes p = raw({0});
  put16(p, 0);
  put16(p, 1);  // data reference index
  append(p, raw({0, 0, 0, 0}));
  put16(p, width);
  put16(p, height);
  append(p, raw({0x00480000, 0x00480000, 0}));
  put16(p, 1);
  p.resize(p.size() + 32, 0);
  put16(p, 0x18);
  put16(p, 0xFFFF);
  // An avcC with 4-byte length prefixes and no parameter sets.
  Bytes avcc = {1, 0x64, 0, 0x1F, 0xFF, 0xE0, 0};
  append(p, box("avcC", {avcc}));
  return box("avc1", {p});
}
inline Bytes soundEntry(const std::string& type, uint16_t channels, uint32_t rate) {
  Bytes p = raw({0});
  put16(p, 0);
  put16(p, 1);
  append(p, raw({0, 0}));
  put16(p, channels);
  put16(p, 16);
  put16(p, 0);
  put16(p, 0);
  put32(p, rate << 16);
  return box(type, {p});
}
inline Bytes stsd(const Bytes& entry) { return box("stsd", {raw({0, 1}), entry}); }
inline Bytes stts(uint32_t count, uint32_t duration) { return box("stts", {raw({0, 1, count, duration})}); }
inline Bytes stszConstant(uint32_t sampleSize, uint32_t count) { return box("stsz", {raw({0, sampleSize, count})}); }
inline Bytes stszTable(const std::vector<uint32_t>& sizes) {
  Bytes p = raw({0, 0, static_cast<uint32_t>(sizes.size())});
  for (uint32_t s : sizes) put32(p, s);
  return box("stsz", {p});
}
inline Bytes stsc(uint32_t samplesPerChunk) { return box("stsc", {raw({0, 1, 1, samplesPerChunk, 1})}); }
inline Bytes stco(const std::vector<uint32_t>& offsets) {
  Bytes p = raw({0, static_cast<uint32_t>(offsets.size())});
  for (uint32_t o : offsets) put32(p, o);
  return box("stco", {p});
}
inline Bytes stss(const std::vector<uint32_t>& numbers) {
  Bytes p = raw({0, static_cast<uint32_t>(numbers.size())});
  for (uint32_t n : numbers) put32(p, n);
  return box("stss", {p});
}
inline Bytes ctts(const std::vector<std::pair<uint32_t, uint32_t>>& runs) {
  Bytes p = raw({0, static_cast<uint32_t>(runs.size())});
  for (auto [count, offset] : runs) append(p, raw({count, offset}));
  return box("ctts", {p});
}

// A whole track: header, media header, handler, media information with the given media
// header and sample table.
inline Bytes trak(uint32_t id, uint32_t trackDuration, uint32_t mediaTimescale, uint32_t mediaDuration,
                  const std::string& subtype, const Bytes& mediaHeader, const Bytes& stbl) {
  return box("trak",
             {tkhd(id, trackDuration), box("mdia", {mdhd(mediaTimescale, mediaDuration), hdlr("mhlr", subtype),
                                                    box("minf", {mediaHeader, hdlr("dhlr", "alis"), dinf(), stbl})})});
}
// A video track of `frames` samples of one duration, sync every `gop` frames.
inline Bytes videoTrak(uint32_t id, uint32_t frames, uint32_t timescale, uint32_t frameDuration,
                       std::initializer_list<Bytes> extraTables = {}) {
  Bytes tables =
      box("stbl", {stsd(avc1Entry(320, 240)), stts(frames, frameDuration),
                   stszTable(std::vector<uint32_t>(frames, 1000)), stsc(1), stco(std::vector<uint32_t>(frames, 48))});
  for (const auto& t : extraTables) append(tables, t);
  const uint32_t size = static_cast<uint32_t>(tables.size());
  for (int i = 0; i < 4; ++i) tables[i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  return trak(id, frames * 600 / (timescale / frameDuration), timescale, frames * frameDuration, "vide", vmhd(),
              tables);
}
inline Bytes sowtTrak(uint32_t id, uint32_t rate, uint32_t frames, uint32_t perChunk) {
  Bytes tables = box("stbl", {stsd(soundEntry("sowt", 2, rate)), stts(frames, 1), stszConstant(1, frames),
                              stsc(perChunk), stco(std::vector<uint32_t>((frames + perChunk - 1) / perChunk, 48))});
  return trak(id, 600, rate, frames, "soun", smhd(), tables);
}
inline Bytes tmcdTrak(uint32_t id) {
  Bytes tables =
      box("stbl", {stsd(box("tmcd", {raw({0, 1, 0, 600, 20})})), stts(1, 20), stszConstant(4, 1), stsc(1), stco({48})});
  return trak(id, 600, 600, 20, "tmcd", gmhd(), tables);
}

using boxwalk::be32;

// Requests as the repair engine makes them: `samples` video samples of growing sizes, one a
// chunk; `chunks` sound chunks of `perChunk` samples above 4 GB.
inline AtomCreationRequest videoRequest(uint32_t samples, uint32_t timeScale, double fps) {
  AtomCreationRequest r;
  r.requestType = AtomCreationRequest::kVideoRequest;
  r.timeScale = timeScale;
  r.FPS = fps;
  for (uint32_t i = 0; i < samples; ++i) {
    r.stszEntries.push_back(1000 + i);
    r.stcoEntries.push_back(48 + 1000ull * i);
  }
  r.stscEntries.push_back(SampleToChunkEntery::initWithFirstChunk(1, 1, 1));
  return r;
}

inline AtomCreationRequest audioRequest(uint32_t chunks, uint32_t perChunk, uint32_t timeScale, double fps) {
  AtomCreationRequest r;
  r.requestType = AtomCreationRequest::kAudioRequest;
  r.timeScale = timeScale;
  r.FPS = fps;
  for (uint32_t i = 0; i < chunks; ++i) r.stcoEntries.push_back(1ull << 32 | i);
  r.stscEntries.push_back(SampleToChunkEntery::initWithFirstChunk(1, perChunk, 1));
  return r;
}

// Walks a serialised box and every container below it, checking that each container's
// children fill it exactly. Returns the path of the first box that does not, or "" when all do;
// `types` collects every box type in the order met.
inline std::string checkSizes(const uint8_t* data, uint64_t size, std::vector<std::string>* types,
                              const std::string& path = "") {
  static const char* containers[] = {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf"};
  if (size < 8 || be32(data) != size) return path + "?size";
  const std::string type(reinterpret_cast<const char*>(data + 4), 4);
  if (types) types->push_back(type);
  bool container = false;
  for (const char* c : containers) container = container || type == c;
  if (!container) return "";
  uint64_t p = 8;
  while (p < size) {
    if (p + 8 > size) return path + "/" + type + "!tail";
    const uint32_t s = be32(data + p);
    if (s < 8 || p + s > size) return path + "/" + type + "!child";
    const std::string bad = checkSizes(data + p, s, types, path + "/" + type);
    if (!bad.empty()) return bad;
    p += s;
  }
  return "";
}

}  // namespace treebuilder
