#include "AviTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace avitest {

void put(std::vector<uint8_t>& out, const char* fourcc) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(fourcc[i]));
}

std::vector<uint8_t> aviHead(uint32_t videoStrf, uint32_t audioStrf, uint32_t avihSize) {
  std::vector<uint8_t> f;
  auto u32s = [&f](std::initializer_list<uint32_t> values) {
    for (uint32_t v : values) qvr::putLE32(f, v);
  };
  put(f, "RIFF");
  u32s({0});  // a damaged file's sizes are not trusted anyway
  put(f, "AVI ");
  put(f, "LIST");
  u32s({0});
  put(f, "hdrl");
  put(f, "avih");
  u32s({avihSize, 40000, 123456, 0, 0x910, 99, 0, 2, 0x100000, 640, 360, 0, 0, 0, 0});
  auto strl = [&](const char* type, const char* handler, uint32_t rate, uint32_t strfSize, const char* codec) {
    put(f, "LIST");
    u32s({4 + 64 + 8 + strfSize});
    put(f, "strl");
    put(f, "strh");
    u32s({56});
    put(f, type);
    put(f, handler);
    u32s({0, 0, 0, 1, rate, 7, 1234, 5000, 0xFFFFFFFF, 0, 0, 0});
    put(f, "strf");
    u32s({strfSize});
    for (uint32_t i = 0; i < strfSize; ++i) f.push_back(codec && i >= 16 && i < 20 ? codec[i - 16] : uint8_t(i + 1));
  };
  strl("vids", "MJPG", 25, videoStrf, "MJPG");
  strl("auds", "\x01\0\0\0", 192000, audioStrf, nullptr);
  put(f, "LIST");
  u32s({0});
  put(f, "movi");
  return f;
}

void chunk(std::vector<uint8_t>& f, const char* fourcc, uint32_t size, uint8_t fill, bool pad) {
  put(f, fourcc);
  qvr::putLE32(f, size);
  for (uint32_t i = 0; i < size; ++i) f.push_back(static_cast<uint8_t>(fill + i * 13));
  if (pad && size % 2) f.push_back(0);
}

void padTo(std::vector<uint8_t>& f, size_t size) {
  if (f.size() + 8 <= size) {
    put(f, "JUNK");
    qvr::putLE32(f, static_cast<uint32_t>(size - f.size() - 4));
  }
  f.resize(size, 0);
}

Job::Job(std::vector<uint8_t> bytes, bool db, const std::string& outName) : damaged(std::move(bytes)) {
  testsupport::writeFile(dir.file("damaged.avi"), damaged);
  engine.delegate = &delegate;
  EXPECT_TRUE(engine.fileValidityCheck(dir.file("damaged.avi")));
  engine.db = db;
  engine.retrieveAudioVideoSamplesForFileAtPath(dir.file("damaged.avi"), dir.file(outName));
  if (std::filesystem::exists(dir.file(outName))) out = testsupport::readFile(dir.file(outName));
}

size_t Job::filesLeft() const {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir.path()), {}));
}

std::vector<IndexedChunk> readStandardIndex(const std::vector<uint8_t>& out, uint64_t at, const char* ixId,
                                            std::string* chunkId) {
  std::vector<IndexedChunk> chunks;
  if (at + 32 > out.size() || id(out, at) != ixId) {
    ADD_FAILURE() << "no " << ixId << " at " << at;
    return chunks;
  }
  const uint32_t n = le32(out, at + 12);
  EXPECT_EQ(le32(out, at + 4), n * 8u + 24u);
  EXPECT_EQ(le32(out, at + 8), 0x01000002u);  // 2 longs per entry, index of chunks
  if (chunkId) *chunkId = id(out, at + 16);
  const uint64_t base = qvr::readLE64(out.data() + at + 20);
  for (uint32_t i = 0; i < n && at + 40 + i * 8ull <= out.size(); ++i) {
    chunks.push_back({base + le32(out, at + 32 + i * 8), le32(out, at + 36 + i * 8)});
  }
  EXPECT_EQ(chunks.size(), n);
  return chunks;
}

namespace {
std::string walk(const std::vector<uint8_t>& f, uint64_t p, uint64_t end, int depth) {
  for (; p < end; p += 8 + le32(f, p + 4)) {
    if (p + 8 > end || p + 8 + le32(f, p + 4) > end) return "chunk at " + std::to_string(p) + " overruns its list";
    if (id(f, p) == "LIST" && depth < 3) {
      auto fault = walk(f, p + 12, p + 8 + le32(f, p + 4), depth + 1);
      if (!fault.empty()) return fault;
    }
  }
  return "";
}

void expectChunksFromSource(const std::vector<uint8_t>& out, const std::vector<uint8_t>& damaged,
                            const std::vector<IndexedChunk>& index, const std::vector<uint64_t>& sourceOffsets) {
  ASSERT_EQ(index.size() + 1, sourceOffsets.size());
  for (size_t i = 0; i < index.size(); ++i) {
    const uint64_t src = sourceOffsets[i + 1], at = index[i].dataOffset;
    ASSERT_TRUE(at >= 8 && at + index[i].size <= out.size() && src + 8 + index[i].size <= damaged.size());
    EXPECT_EQ(index[i].size, le32(damaged, src + 4)) << "chunk " << i;
    EXPECT_TRUE(std::equal(out.begin() + at - 8, out.begin() + at, damaged.begin() + src)) << "chunk " << i;
    EXPECT_TRUE(std::equal(out.begin() + at, out.begin() + at + index[i].size, damaged.begin() + src + 8))
        << "chunk " << i;
  }
}
}  // namespace

void expectSoundRepair(const std::vector<uint8_t>& out, const std::vector<uint8_t>& damaged,
                       const RepairFileAvi& engine) {
  ASSERT_TRUE(out.size() > 12 && id(out, 0) == "RIFF" && id(out, 8) == "AVI ");
  EXPECT_EQ(le32(out, 4) + 8ull, out.size());
  EXPECT_EQ(walk(out, 12, out.size(), 0), "");
  expectChunksFromSource(out, damaged, readStandardIndex(out, engine.ix00location - 8, "ix00"),
                         engine.videosampleoffsetarray);
  expectChunksFromSource(out, damaged, readStandardIndex(out, engine.ix01location, "ix01"),
                         engine.audiosampleoffsetarray);
}

}  // namespace avitest
