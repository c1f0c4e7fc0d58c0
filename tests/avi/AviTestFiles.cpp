#include "AviTestFiles.h"

#include <gtest/gtest.h>

namespace avitest {

std::vector<IndexedChunk> readStandardIndex(const std::vector<uint8_t>& out, uint64_t at, const char* ixId,
                                            std::string* chunkId) {
  std::vector<IndexedChunk> chunks;
  if (at + 32 > out.size()) {
    ADD_FAILURE() << "no room for " << ixId << " at " << at;
    return chunks;
  }
  EXPECT_EQ(id(out, at), ixId);
  const uint32_t size = le32(out, at + 4);
  EXPECT_EQ(std::vector<uint8_t>(out.begin() + at + 8, out.begin() + at + 12), (std::vector<uint8_t>{2, 0, 0, 1}));
  const uint32_t n = le32(out, at + 12);
  EXPECT_EQ(size, n * 8u + 24u);
  if (chunkId) *chunkId = id(out, at + 16);
  const uint64_t base = qvr::readLE64(out.data() + at + 20);
  if (at + 32 + uint64_t(n) * 8 > out.size()) {
    ADD_FAILURE() << ixId << " entries run past the end of the file";
    return chunks;
  }
  for (uint32_t i = 0; i < n; ++i) {
    chunks.push_back({base + le32(out, at + 32 + i * 8), le32(out, at + 36 + i * 8)});
  }
  return chunks;
}

void expectIndexedChunksMatch(const std::vector<uint8_t>& out, const std::vector<uint8_t>& damaged,
                              const std::vector<IndexedChunk>& index, const std::vector<uint64_t>& sourceOffsets) {
  ASSERT_EQ(index.size() + 1, sourceOffsets.size());
  for (size_t i = 0; i < index.size(); ++i) {
    const uint64_t src = sourceOffsets[i + 1];
    ASSERT_GE(index[i].dataOffset, 8u);
    ASSERT_LE(index[i].dataOffset + index[i].size, out.size());
    ASSERT_LE(src + 8 + index[i].size, damaged.size());
    EXPECT_EQ(index[i].size, le32(damaged, src + 4)) << "chunk " << i;
    EXPECT_EQ(id(out, index[i].dataOffset - 8), id(damaged, src)) << "chunk " << i;
    EXPECT_TRUE(std::equal(out.begin() + index[i].dataOffset, out.begin() + index[i].dataOffset + index[i].size,
                           damaged.begin() + src + 8))
        << "chunk " << i;
  }
}

namespace {
// Children of a list between `begin` and `end`; the rebuilt movi keeps odd chunks unpadded,
// so no pad bytes are skipped.
std::string walk(const std::vector<uint8_t>& f, uint64_t begin, uint64_t end, int depth) {
  uint64_t p = begin;
  while (p < end) {
    if (p + 8 > end) return "truncated chunk header at " + std::to_string(p);
    const std::string name = id(f, p);
    const uint64_t size = le32(f, p + 4);
    if (p + 8 + size > end) return name + " at " + std::to_string(p) + " overruns its parent";
    if (name == "LIST" && depth < 3) {
      auto fault = walk(f, p + 12, p + 8 + size, depth + 1);
      if (!fault.empty()) return fault;
    }
    p += 8 + size;
  }
  return std::string();
}
}  // namespace

std::string riffStructureFault(const std::vector<uint8_t>& file) {
  if (file.size() < 12 || id(file, 0) != "RIFF" || id(file, 8) != "AVI ") return "not a RIFF AVI form";
  if (le32(file, 4) + 8ull != file.size()) return "RIFF size does not match the file";
  return walk(file, 12, file.size(), 0);
}

}  // namespace avitest
