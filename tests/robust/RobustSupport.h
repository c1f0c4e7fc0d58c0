#pragma once
// Shared pieces of the robustness tests: a delegate that records the job's outcome, a minimal
// box walker for checking written movies, and fingerprints of files that must stay untouched.

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/RepairFileDelegate.h"

namespace robust {

class RecordingDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string& task) override { tasks.push_back(task); }
  void repairFileCurrentTaskProgress(int32_t) override {}
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    attributes.push_back(key + "=" + value);
  }
  void repairFileDidComplete() override { ++completed; }
  void repairFileDidFailWithError(const qvr::Error& error) override { errors.push_back(error); }
  void moveBackToSelectReferenceFile() override { ++movedBack; }

  std::vector<std::string> tasks;
  std::vector<std::string> attributes;
  std::vector<qvr::Error> errors;
  int completed = 0;
  int movedBack = 0;
};

// One box found by the walker: absolute offset of its header, header length and total size.
struct Box {
  std::string type;
  uint64_t offset = 0;
  uint64_t header = 0;
  uint64_t size = 0;
  uint64_t payload() const { return offset + header; }
};

// The boxes directly inside [begin, end) of `bytes` (whose first byte is at file offset `base`).
std::vector<Box> childBoxes(const std::vector<uint8_t>& bytes, uint64_t base, uint64_t begin, uint64_t end);
const Box* findBox(const std::vector<Box>& boxes, const std::string& type);

// Chunk offsets of one track of a movie box (stco or co64), with the handler type ("vide",
// "soun") and whether they were stored 64-bit.
struct TrackChunks {
  std::string handler;
  bool wide = false;
  std::vector<uint64_t> offsets;
};
// `moov` holds the whole movie box; its offsets are relative to the box start.
std::vector<TrackChunks> trackChunks(const std::vector<uint8_t>& moov);

// Reads `length` bytes at `offset` (fewer at the end of the file).
std::vector<uint8_t> readRange(const std::string& path, uint64_t offset, size_t length);
// The movie box of a file whose top-level boxes are intact (empty when there is none).
std::vector<uint8_t> movieBoxOf(const std::string& path);

// Size, modification time and a content digest: equal fingerprints mean an untouched file.
struct Fingerprint {
  uint64_t size = 0;
  int64_t mtimeNs = 0;
  uint64_t digest = 0;
  bool operator==(const Fingerprint&) const = default;
};
Fingerprint fingerprint(const std::string& path);

// Names in `dir` (no "." or "..").
std::vector<std::string> listDir(const std::string& dir);
// Peak resident set of this process so far, in MiB.
double peakRssMiB();
// Makes `path` a sparse copy of `source` with `hole` zero bytes inserted at `at`.
void writeWithHole(const std::string& source, const std::string& path, uint64_t at, uint64_t hole);

}  // namespace robust
