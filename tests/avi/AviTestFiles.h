#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>

#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"
#include "support/TestSupport.h"

// Synthetic damaged AVI files, a job over one, and the soundness check of a rebuilt file.
namespace avitest {

inline uint32_t le32(const std::vector<uint8_t>& b, uint64_t at) { return qvr::readLE32(b.data() + at); }
inline std::string id(const std::vector<uint8_t>& b, uint64_t at) {
  return at + 4 <= b.size() ? std::string(b.begin() + long(at), b.begin() + long(at) + 4) : std::string();
}
// Appends ids and little-endian 32-bit values in turn.
inline void put(std::vector<uint8_t>&) {}
template <typename... Rest>
void put(std::vector<uint8_t>& f, const char* ids, Rest... rest);
template <typename... Rest>
void put(std::vector<uint8_t>& f, uint32_t value, Rest... rest) {
  qvr::putLE32(f, value);
  put(f, rest...);
}
template <typename... Rest>
void put(std::vector<uint8_t>& f, const char* ids, Rest... rest) {
  f.insert(f.end(), ids, ids + std::strlen(ids));
  put(f, rest...);
}

// A two-stream AVI head as cameras write it: avih, a video strl (MJPG, BITMAPINFOHEADER of
// `videoStrf` bytes), an audio strl (WAVEFORMATEX of `audioStrf` bytes; dwStart 7), `LIST movi`.
// The RIFF and LIST sizes are 0: a damaged file's sizes are not trusted anyway.
inline std::vector<uint8_t> aviHead(uint32_t videoStrf = 40, uint32_t audioStrf = 18, uint32_t avihSize = 56) {
  std::vector<uint8_t> f;
  put(f, "RIFF", 0u, "AVI LIST", 0u, "hdrlavih", avihSize, 40000u, 123456u, 0u, 0x910u, 99u, 0u, 2u, 0x100000u, 640u,
      360u, 0u, 0u, 0u, 0u);
  auto strl = [&](const char* type, const char* handler, uint32_t rate, uint32_t strfSize, const char* codec) {
    put(f, "LIST", 4 + 64 + 8 + strfSize, "strlstrh", 56u, type);
    f.insert(f.end(), handler, handler + 4);
    put(f, 0u, 0u, 0u, 1u, rate, 7u, 1234u, 5000u, 0xFFFFFFFFu, 0u, 0u, 0u, "strf", strfSize);
    for (uint32_t i = 0; i < strfSize; ++i) f.push_back(codec && i >= 16 && i < 20 ? codec[i - 16] : uint8_t(i + 1));
  };
  strl("vids", "MJPG", 25, videoStrf, "MJPG");
  strl("auds", "\x01\0\0\0", 192000, audioStrf, nullptr);
  put(f, "LIST", 0u, "movi");
  return f;
}

// A chunk whose data bytes never repeat a neighbour, so they hold no chance ids.
inline void chunk(std::vector<uint8_t>& f, const char* fourcc, uint32_t size, uint8_t fill, bool pad = true) {
  put(f, fourcc, size);
  for (uint32_t i = 0; i < size; ++i) f.push_back(static_cast<uint8_t>(fill + i * 13));
  if (pad && size % 2) f.push_back(0);
}

// A JUNK chunk, then zeros, up to `size` bytes (past the repairable minimum).
inline void padTo(std::vector<uint8_t>& f, size_t size = 600000) {
  if (f.size() + 8 <= size) put(f, "JUNK", static_cast<uint32_t>(size - f.size() - 8));
  f.resize(size, 0);
}

// Stream headers over two header windows, then 17 MiB of video chunks over three search windows;
// the file ends on a KiB boundary with chunks to recover in its last KiB. `videoOffsets` gets the
// engine's table of the video chunks the search must find.
inline std::vector<uint8_t> fileOverTwoWindows(std::vector<uint64_t>* videoOffsets = nullptr) {
  auto f = aviHead(1500);
  std::vector<uint64_t> offsets{0};
  for (uint8_t fill = 0; f.size() < (17u << 20); ++fill) {
    offsets.push_back(f.size());
    chunk(f, "00dc", 65521 + (fill % 7) * 333, fill);
  }
  offsets.pop_back();                                   // zeros follow it
  f.resize(f.size() + 1024 - (f.size() + 300) % 1024);  // 300 bytes left for the tail
  for (uint32_t size : {100, 100, 76}) {
    offsets.push_back(f.size());
    chunk(f, "00dc", size, 1);
  }
  offsets.pop_back();  // the file's last chunk
  if (videoOffsets) *videoOffsets = offsets;
  return f;
}

class RecordingDelegate : public RepairFileDelegate {
 public:
  void repairFileDidStartPerformingTask(const std::string&) override {}
  void repairFileCurrentTaskProgress(int32_t p) override { onProgress(p); }
  void repairFileAttribute(const std::string& key, const std::string& value) override {
    attributes.emplace_back(key, value);
  }
  void repairFileDidComplete() override { ++completions; }
  void repairFileDidFailWithError(const qvr::Error& e) override { errors.push_back(e); }
  void moveBackToSelectReferenceFile() override {}

  std::function<void(int32_t)> onProgress = [](int32_t) {};  // called on the job's thread
  std::vector<std::pair<std::string, std::string>> attributes;
  std::vector<qvr::Error> errors;
  int completions = 0;
};

// One validity check and job over `damaged`, written into a fresh folder as repaired.avi.
struct Job {
  explicit Job(std::vector<uint8_t> bytes, bool db = false) : damaged(std::move(bytes)) {
    testsupport::writeFile(dir.file("damaged.avi"), damaged);
    engine.delegate = &delegate;
    EXPECT_TRUE(engine.fileValidityCheck(dir.file("damaged.avi")));
    engine.db = db;
    engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), dir.file("repaired.avi"));
    if (std::filesystem::exists(dir.file("repaired.avi"))) out = testsupport::readFile(dir.file("repaired.avi"));
  }
  // Files in `dir`, the damaged one included.
  size_t filesLeft() const { return size_t(std::distance(std::filesystem::directory_iterator(dir.path()), {})); }

  testsupport::TempDir dir;
  RecordingDelegate delegate;
  RepairFileAvi engine;
  std::vector<uint8_t> damaged;
  std::vector<uint8_t> out;  // empty when no file was written
};

// An indexed chunk's data: absolute offset and size.
using IndexedChunk = std::pair<uint64_t, uint32_t>;

// The entries of the standard index chunk `ixId` at `at` (its header checked on the way).
inline std::vector<IndexedChunk> readStandardIndex(const std::vector<uint8_t>& out, uint64_t at, const char* ixId) {
  std::vector<IndexedChunk> chunks;
  if (at + 32 > out.size() || id(out, at) != ixId) {
    ADD_FAILURE() << "no " << ixId << " at " << at;
    return chunks;
  }
  const uint32_t n = le32(out, at + 12);
  EXPECT_EQ(le32(out, at + 4), n * 8u + 24u);
  EXPECT_EQ(le32(out, at + 8), 0x01000002u);  // 2 longs per entry, index of chunks
  const uint64_t base = qvr::readLE64(out.data() + at + 20);
  for (uint32_t i = 0; i < n && at + 40 + i * 8ull <= out.size(); ++i) {
    chunks.push_back({base + le32(out, at + 32 + i * 8), le32(out, at + 36 + i * 8)});
  }
  return chunks;
}

// Where a chunk of the RIFF tree below `p` overruns the list holding it; empty when none does.
inline std::string overrun(const std::vector<uint8_t>& f, uint64_t p, uint64_t end, int depth = 0) {
  for (; p < end; p += 8 + le32(f, p + 4)) {
    if (p + 8 > end || p + 8 + le32(f, p + 4) > end) return "chunk at " + std::to_string(p) + " overruns its list";
    auto fault = id(f, p) == "LIST" && depth < 3 ? overrun(f, p + 12, p + 8 + le32(f, p + 4), depth + 1) : "";
    if (!fault.empty()) return fault;
  }
  return "";
}

// A repaired file holds together and says what the engine found: every size of the RIFF tree fits
// (odd chunks are unpadded by design), the header counts and super indexes agree with the engine's
// tables, and both standard indexes list the source chunks in order.
inline void expectSoundRepair(const std::vector<uint8_t>& out, const std::vector<uint8_t>& damaged,
                              const RepairFileAvi& engine) {
  ASSERT_TRUE(out.size() > 12 && id(out, 0) == "RIFF" && id(out, 8) == "AVI ");
  EXPECT_EQ(le32(out, 4) + 8ull, out.size());
  EXPECT_EQ(overrun(out, 12, out.size()), "");
  // dwTotalFrames, then each stream header's dwLength and its super index's only entry.
  const uint64_t v = engine.videostrfsize, a = engine.audiostrfsize;
  EXPECT_EQ(le32(out, 48), engine.videosamplecount);
  EXPECT_EQ(le32(out, 140), engine.videosamplecount);
  EXPECT_EQ(le32(out, 276 + v), engine.audiosamplecount);
  EXPECT_EQ(id(out, qvr::readLE64(&out[204 + v])), "ix00");
  EXPECT_EQ(id(out, qvr::readLE64(&out[340 + v + a])), "ix01");
  // Every indexed chunk is the source chunk at the engine's offset: id, size and data.
  for (const auto& [ix, at, sources] : {std::tuple{"ix00", engine.ix00location - 8, &engine.videosampleoffsetarray},
                                        std::tuple{"ix01", engine.ix01location, &engine.audiosampleoffsetarray}}) {
    const auto index = readStandardIndex(out, at, ix);
    ASSERT_EQ(index.size() + 1, sources->size()) << ix;
    for (size_t i = 0; i < index.size(); ++i) {
      const auto [data, size] = index[i];
      const uint64_t src = (*sources)[i + 1];
      ASSERT_TRUE(data >= 8 && data + size <= out.size() && src + 8 + size <= damaged.size()) << ix << " " << i;
      EXPECT_TRUE(
          std::equal(out.begin() + long(data) - 8, out.begin() + long(data + size), damaged.begin() + long(src)))
          << ix << " " << i;
    }
  }
}

}  // namespace avitest
