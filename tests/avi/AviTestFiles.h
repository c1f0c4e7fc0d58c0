#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"
#include "support/TestSupport.h"

namespace avitest {

void put(std::vector<uint8_t>& out, const char* fourcc);
inline uint32_t le32(const std::vector<uint8_t>& b, size_t at) { return qvr::readLE32(b.data() + at); }
inline std::string id(const std::vector<uint8_t>& b, size_t at) {
  return at + 4 <= b.size() ? std::string(b.begin() + at, b.begin() + at + 4) : std::string();
}

// A two-stream AVI head as cameras write it: avih, a video strl (MJPG, BITMAPINFOHEADER of
// `videoStrf` bytes), an audio strl (WAVEFORMATEX of `audioStrf` bytes; dwStart 7), `LIST movi`.
std::vector<uint8_t> aviHead(uint32_t videoStrf = 40, uint32_t audioStrf = 18, uint32_t avihSize = 56);
// A chunk whose data bytes never repeat a neighbour, so they hold no chance ids.
void chunk(std::vector<uint8_t>& f, const char* fourcc, uint32_t size, uint8_t fill, bool pad = true);
// A JUNK chunk, then zeros, up to `size` bytes (past the repairable minimum).
void padTo(std::vector<uint8_t>& f, size_t size = 600000);

class RecordingDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string& task) override { tasks.push_back(task); }
  void repairFileCurrentTaskProgress(int32_t p) override { progress.push_back(p); }
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    attributes.emplace_back(key, value);
  }
  void repairFileDidComplete() override { ++completions; }
  void repairFileDidFailWithError(const qvr::Error& e) override { errors.push_back(e); }
  void moveBackToSelectReferenceFile() override {}

  std::vector<std::string> tasks;
  std::vector<int32_t> progress;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<qvr::Error> errors;
  int completions = 0;
};

// One validity check and job over `damaged`, written into a fresh folder.
struct Job {
  explicit Job(std::vector<uint8_t> bytes, bool db = false, const std::string& outName = "repaired.avi");
  testsupport::TempDir dir;  // holds damaged.avi and the output
  RecordingDelegate delegate;
  RepairFileAvi engine;
  std::vector<uint8_t> damaged;
  std::vector<uint8_t> out;  // empty when no file was written
  size_t filesLeft() const;  // files in `dir`, the damaged one included
};

struct IndexedChunk {
  uint64_t dataOffset;  // absolute
  uint32_t size;
};
// The entries of the standard index chunk `ixId` at `at` (its header checked on the way).
std::vector<IndexedChunk> readStandardIndex(const std::vector<uint8_t>& out, uint64_t at, const char* ixId,
                                            std::string* chunkId = nullptr);

// Checks a repaired file against the engine that wrote it and its source: every size of the
// RIFF tree fits (odd chunks are unpadded by design), both standard indexes list the engine's
// tables in order, and every indexed chunk is the source chunk, id, size and data.
void expectSoundRepair(const std::vector<uint8_t>& out, const std::vector<uint8_t>& damaged,
                       const RepairFileAvi& engine);

}  // namespace avitest
