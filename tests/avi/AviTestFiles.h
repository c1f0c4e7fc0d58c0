#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"

namespace avitest {

inline void put(std::vector<uint8_t>& out, const char* fourcc) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(fourcc[i]));
}
inline void put32(std::vector<uint8_t>& out, uint32_t v) { qvr::putLE32(out, v); }
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return qvr::readLE32(b.data() + at); }
inline std::string id(const std::vector<uint8_t>& b, size_t at) {
  return at + 4 <= b.size() ? std::string(b.begin() + at, b.begin() + at + 4) : std::string();
}

// A two-stream AVI head as cameras write it: avih, a video strl (BITMAPINFOHEADER of
// `videoStrf` bytes) and an audio strl (WAVEFORMATEX of `audioStrf` bytes), then `LIST movi`.
inline std::vector<uint8_t> aviHead(uint32_t videoStrf = 40, uint32_t audioStrf = 18, uint32_t avihSize = 56) {
  std::vector<uint8_t> f;
  put(f, "RIFF");
  put32(f, 0);  // sizes of a damaged file are not trusted anyway
  put(f, "AVI ");
  put(f, "LIST");
  put32(f, 0);
  put(f, "hdrl");
  put(f, "avih");
  put32(f, avihSize);
  const uint32_t avih[14] = {40000, 123456, 0, 0x910, 99, 0, 2, 0x100000, 640, 360, 0, 0, 0, 0};
  for (uint32_t v : avih) put32(f, v);
  auto strl = [&](const char* type, const char* handler, uint32_t scale, uint32_t rate, uint32_t strfSize,
                  const char* compression) {
    put(f, "LIST");
    put32(f, 4 + 64 + 8 + strfSize);
    put(f, "strl");
    put(f, "strh");
    put32(f, 56);
    put(f, type);
    put(f, handler);
    put32(f, 0);
    put32(f, 0);
    put32(f, 0);
    put32(f, scale);
    put32(f, rate);
    put32(f, 7);  // dwStart
    put32(f, 1234);
    put32(f, 5000);
    put32(f, 0xFFFFFFFF);
    put32(f, 0);
    put32(f, 0);  // rcFrame
    put32(f, 0);
    put(f, "strf");
    put32(f, strfSize);
    std::vector<uint8_t> strf(strfSize, 0);
    for (uint32_t i = 0; i < strfSize; ++i) strf[i] = static_cast<uint8_t>(i + 1);
    if (compression && strfSize >= 20) std::memcpy(&strf[16], compression, 4);
    for (uint8_t byte : strf) f.push_back(byte);
  };
  strl("vids", "MJPG", 1, 25, videoStrf, "MJPG");
  strl("auds", "\x01\0\0\0", 4, 192000, audioStrf, nullptr);
  put(f, "LIST");
  put32(f, 0);
  put(f, "movi");
  return f;
}

inline void chunk(std::vector<uint8_t>& f, const char* fourcc, uint32_t size, uint8_t fill, bool pad = true) {
  put(f, fourcc);
  put32(f, size);
  for (uint32_t i = 0; i < size; ++i) f.push_back(static_cast<uint8_t>(fill + i * 13));
  if (pad && size % 2) f.push_back(0);
}

// Pads with a JUNK chunk, then zeros, to `size` bytes (past the repairable minimum).
inline void padTo(std::vector<uint8_t>& f, size_t size = 600000) {
  if (f.size() + 8 <= size) {
    put(f, "JUNK");
    put32(f, static_cast<uint32_t>(size - f.size() - 4));
  }
  f.resize(size, 0);
}

// What the engine told its delegate.
class RecordingDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string& task) override { tasks.push_back(task); }
  void repairFileCurrentTaskProgress(int32_t p) override { progress.push_back(p); }
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    attributes.emplace_back(key, value);
  }
  void repairFileDidComplete() override { ++completions; }
  void repairFileDidFailWithError(const qvr::Error& e) override { errors.push_back(e); }
  void moveBackToSelectReferenceFile() override { ++moveBacks; }

  std::vector<std::string> tasks;
  std::vector<int32_t> progress;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<qvr::Error> errors;
  int completions = 0;
  int moveBacks = 0;
};

// One chunk as the repaired file's standard index describes it.
struct IndexedChunk {
  uint64_t dataOffset;
  uint32_t size;
};

// Reads `ix00` or `ix01` of a repaired file (at its usual place for the given strf sizes) and
// checks the index header; entries are resolved to absolute data offsets.
std::vector<IndexedChunk> readStandardIndex(const std::vector<uint8_t>& out, uint64_t at, const char* ixId,
                                            std::string* chunkId);

// Every indexed chunk of `out` must be the chunk of `damaged` at the same place of the engine's
// table (`sourceOffsets`, used from index 1): same id, size and data, in table order.
void expectIndexedChunksMatch(const std::vector<uint8_t>& out, const std::vector<uint8_t>& damaged,
                              const std::vector<IndexedChunk>& index, const std::vector<uint64_t>& sourceOffsets);

// Walks a RIFF file and reports the first structural fault ("" when every size fits).
std::string riffStructureFault(const std::vector<uint8_t>& file);

}  // namespace avitest
