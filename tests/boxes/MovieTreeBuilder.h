#pragma once

// The box model's test kit: its headers, small movie boxes built byte by byte (each helper
// returns the serialised box, so a test reads like the tree it describes), the engine's kind of
// requests, and a walk over written boxes.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/AtomCreationRequest.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/Ctts.h"
#include "boxes/DecoderConfigDescriptor.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/Dinf.h"
#include "boxes/Edts.h"
#include "boxes/EsdsDecoder.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/Mdhd.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Moov.h"
#include "boxes/Mvhd.h"
#include "boxes/ObjectDescriptor.h"
#include "boxes/Sdtp.h"
#include "boxes/Stbl.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stsd.h"
#include "boxes/Stss.h"
#include "boxes/Stsz.h"
#include "boxes/Stts.h"
#include "boxes/Tkhd.h"
#include "boxes/VideoSampleDescriptionEntery.h"
#include "support/Damage.h"

namespace treebuilder {

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes raw(std::initializer_list<uint32_t> words) {
  Bytes b;
  for (uint32_t w : words)
    for (int i = 3; i >= 0; --i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return b;
}
inline Bytes box(const std::string& type, const std::vector<Bytes>& children) {
  Bytes out = raw({0});
  append(out, text(type));
  for (const auto& c : children) append(out, c);
  const Bytes size = raw({static_cast<uint32_t>(out.size())});
  std::copy(size.begin(), size.end(), out.begin());
  return out;
}

inline Bytes mvhd(uint32_t timescale, uint32_t duration) {
  return box("mvhd", {raw({0,          0, 0, timescale, duration,   0x00010000, 0x01000000, 0, 0, 0x00010000, 0, 0, 0,
                           0x00010000, 0, 0, 0,         0x40000000, 0,          0,          0, 0, 0,          0, 3})});
}
inline Bytes tkhd(uint32_t trackID, uint32_t duration) {
  return box("tkhd", {raw({0x0000000F, 0, 0, trackID,    0, duration, 0, 0,          0,          0,         0x00010000,
                           0,          0, 0, 0x00010000, 0, 0,        0, 0x40000000, 320u << 16, 240u << 16})});
}
inline Bytes mdhd(uint32_t timescale, uint32_t duration) {
  return box("mdhd", {raw({0, 0, 0, timescale, duration, 0x55C40000})});
}
inline Bytes hdlr(const std::string& componentType, const std::string& subtype) {
  return box("hdlr", {raw({0}), text(componentType + subtype), raw({0, 0, 0}), Bytes(2, 0)});
}
inline Bytes vmhd() { return box("vmhd", {raw({1, 0, 0})}); }
inline Bytes smhd() { return box("smhd", {raw({0, 0})}); }
inline Bytes dinf() { return box("dinf", {box("dref", {raw({0, 1}), box("url ", {raw({1})})})}); }

// Sample entries: a visual one with the given children after its fixed part, and a stereo
// 16-bit sound one at 48 kHz with the given bytes after its fixed fields.
inline Bytes videoEntry(const std::string& type, uint16_t width, uint16_t height, const Bytes& children) {
  return box(type, {raw({0, 1, 0, 0, 0, 0, uint32_t(width) << 16 | height, 0x00480000, 0x00480000, 0, 0x00010000, 0, 0,
                         0, 0, 0, 0, 0, 0x18}),
                    Bytes{0xFF, 0xFF}, children});
}
inline Bytes soundEntry(const std::string& type, uint16_t version = 0, const Bytes& after = {}) {
  return box(type, {raw({0, 1, uint32_t(version) << 16, 0, 0x00020010, 0, 48000u << 16}), after});
}

inline Bytes stsd(const Bytes& entry) { return box("stsd", {raw({0, 1}), entry}); }
inline Bytes stts(uint32_t count, uint32_t duration) { return box("stts", {raw({0, 1, count, duration})}); }
inline Bytes stszConstant(uint32_t sampleSize, uint32_t count) { return box("stsz", {raw({0, sampleSize, count})}); }
inline Bytes stsc(uint32_t samplesPerChunk) { return box("stsc", {raw({0, 1, 1, samplesPerChunk, 1})}); }
// A table of full-box header and entry count followed by the given words.
inline Bytes table(const std::string& type, uint32_t count, const std::vector<uint32_t>& words) {
  Bytes b = raw({0, count});
  for (uint32_t w : words) append(b, raw({w}));
  return box(type, {b});
}

// A whole track: header, media header, handler, media information with the given media
// header and sample table children.
inline Bytes trak(uint32_t id, uint32_t timescale, uint32_t duration, const std::string& subtype,
                  const Bytes& mediaHeader, const Bytes& tables) {
  return box("trak", {tkhd(id, 600), box("mdia", {mdhd(timescale, duration), hdlr("mhlr", subtype),
                                                  box("minf", {mediaHeader, hdlr("dhlr", "alis"), dinf(), tables})})});
}
// The sample table of `frames` video samples of one duration, with further children.
inline Bytes videoTables(uint32_t frames, uint32_t frameDuration, std::initializer_list<Bytes> extraTables = {}) {
  std::vector<uint32_t> sizes(frames + 1, 1000);  // no constant size: the count, then the sizes
  sizes[0] = frames;
  std::vector<Bytes> tables = {
      stsd(videoEntry("avc1", 320, 240, box("avcC", {Bytes{1, 0x64, 0, 0x1F, 0xFF, 0xE0, 0}}))),
      stts(frames, frameDuration), table("stsz", 0, sizes), stsc(1),
      table("stco", frames, std::vector<uint32_t>(frames, 48))};
  tables.insert(tables.end(), extraTables);
  return box("stbl", tables);
}
inline Bytes videoTrak(uint32_t id, uint32_t frames, uint32_t timescale, uint32_t frameDuration,
                       std::initializer_list<Bytes> extraTables = {}) {
  return trak(id, timescale, frames * frameDuration, "vide", vmhd(), videoTables(frames, frameDuration, extraTables));
}
// The sample table of `frames` PCM frames of one byte, `perChunk` a chunk.
inline Bytes soundTables(const std::string& format, uint32_t frames, uint32_t perChunk) {
  const uint32_t chunks = (frames + perChunk - 1) / perChunk;
  return box("stbl", {stsd(soundEntry(format)), stts(frames, 1), stszConstant(1, frames), stsc(perChunk),
                      table("stco", chunks, std::vector<uint32_t>(chunks, 48))});
}
inline Bytes soundTrak(uint32_t id, const std::string& format, uint32_t rate, uint32_t frames, uint32_t perChunk) {
  return trak(id, rate, frames, "soun", smhd(), soundTables(format, frames, perChunk));
}
// A timecode track: neither video nor sound.
inline Bytes tmcdTrak(uint32_t id) { return trak(id, 600, 20, "tmcd", box("gmhd", {}), soundTables("tmcd", 1, 1)); }

// Requests as the repair engine makes them: `samples` video samples of growing sizes, one a
// chunk; `chunks` sound chunks of `perChunk` samples above 4 GB.
inline AtomCreationRequest request(uint64_t type, uint32_t timeScale, double fps, uint32_t perChunk) {
  AtomCreationRequest r;
  r.requestType = type;
  r.timeScale = timeScale;
  r.FPS = fps;
  r.stscEntries = {SampleToChunkEntery::initWithFirstChunk(1, perChunk, 1)};
  return r;
}
inline AtomCreationRequest videoRequest(uint32_t samples, uint32_t timeScale, double fps) {
  AtomCreationRequest r = request(AtomCreationRequest::kVideoRequest, timeScale, fps, 1);
  for (uint32_t i = 0; i < samples; ++i) r.stszEntries.push_back(1000 + i);
  for (uint32_t i = 0; i < samples; ++i) r.stcoEntries.push_back(48 + 1000ull * i);
  return r;
}
inline AtomCreationRequest audioRequest(uint32_t chunks, uint32_t perChunk, uint32_t timeScale, double fps) {
  AtomCreationRequest r = request(AtomCreationRequest::kAudioRequest, timeScale, fps, perChunk);
  for (uint32_t i = 0; i < chunks; ++i) r.stcoEntries.push_back(1ull << 32 | i);
  return r;
}

inline std::unique_ptr<Moov> parseMoov(const Bytes& b) {
  return Moov::initMOOVWithData(b.data(), static_cast<uint32_t>(b.size()));
}

// The boxes of `bytes` and, depth first, those inside the movie box's containers, at offsets into
// `bytes`. False when a box runs past its holder or a container's children do not fill it.
inline bool walk(const Bytes& bytes, std::vector<testsupport::Box>& out, uint64_t base = 0) {
  static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "edts", "dinf"};
  uint64_t end = 0;
  for (const testsupport::Box& b : testsupport::topLevelBoxes(bytes)) {
    out.push_back({b.type, base + b.offset, b.size});
    end = b.offset + b.size;
    if (end > bytes.size()) return false;
    if (containers.count(b.type) &&
        !walk(Bytes(bytes.begin() + long(b.offset) + 8, bytes.begin() + long(end)), out, base + b.offset + 8))
      return false;
  }
  return end == bytes.size();
}

template <class Box>
inline Bytes made(std::unique_ptr<Box> box) {
  box->createWriteableData();
  return box->writeableData;
}
inline Bytes made(std::unique_ptr<Stsc> box) {
  box->asignWritableData();
  return box->writeableData;
}

// Every box in `bytes` of a kind the repair reads, parsed and written again, gives back the bytes
// it came from.
inline void expectBoxesRewriteUnchanged(const Bytes& file) {
  using Rewrite = std::function<Bytes(const uint8_t*, uint32_t)>;
  static const std::map<std::string, Rewrite> rewrites = {
      {"mvhd", [](auto p, auto n) { return made(Mvhd::initMVHDWithBytes(p, n)); }},
      {"tkhd", [](auto p, auto n) { return made(Tkhd::initTKHDWithBytes(p, n)); }},
      {"mdhd", [](auto p, auto n) { return made(Mdhd::initMDHDWithBytes(p, n)); }},
      {"vmhd", [](auto p, auto n) { return made(Vmhd::initVMHDWithBytes(p, n)); }},
      {"smhd", [](auto p, auto n) { return made(Smhd::initSMHDWithBytes(p, n)); }},
      {"stsd", [](auto p, auto n) { return Stsd::initSTSDWithBytes(p, n)->stsdData; }},
      {"stts", [](auto p, auto n) { return made(Stts::initSTTSWithBytes(p, n)); }},
      {"stss", [](auto p, auto n) { return made(Stss::initSTSSWithBytes(p, n)); }},
      {"stsz", [](auto p, auto n) { return made(Stsz::initSTSZWithBytes(p, n)); }},
      {"stco", [](auto p, auto n) { return made(Stco::initSTCOWithBytes(p, n, false)); }},
      {"co64", [](auto p, auto n) { return made(Stco::initSTCOWithBytes(p, n, true)); }},
      {"ctts", [](auto p, auto n) { return made(Ctts::initCTTSWithBytes(p, n)); }},
      {"sdtp", [](auto p, auto n) { return made(Sdtp::initSDTPWithBytes(p, n)); }},
      {"stsc", [](auto p, auto n) { return made(Stsc::initSTSCWithBytes(p, n)); }},
  };
  std::vector<testsupport::Box> boxes;
  walk(file, boxes);
  for (const testsupport::Box& b : boxes) {
    auto rewrite = rewrites.find(b.type);
    if (rewrite == rewrites.end()) continue;
    SCOPED_TRACE(b.type + " at " + std::to_string(b.offset));
    const Bytes original(file.begin() + long(b.offset), file.begin() + long(b.offset + b.size));
    EXPECT_EQ(rewrite->second(original.data(), uint32_t(original.size())), original);
  }
}

}  // namespace treebuilder
