// libs: qvr_avi qvr_foundation
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "FuzzSupport.h"
#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"

namespace {

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t le32(const std::vector<uint8_t>& b, uint64_t at) { return at + 4 <= b.size() ? qvr::readLE32(&b[at]) : 0; }
bool idAt(const std::vector<uint8_t>& b, uint64_t at, const char* id) {
  return at + 4 <= b.size() && std::memcmp(&b[at], id, 4) == 0;
}

// Every chunk of the RIFF tree below `p` fits in the list holding it.
bool fits(const std::vector<uint8_t>& f, uint64_t p, uint64_t end, int depth) {
  for (; p < end; p += 8 + uint64_t(le32(f, p + 4))) {
    if (p + 8 > end || p + 8 + le32(f, p + 4) > end) return false;
    if (idAt(f, p, "LIST") && depth < 3 && !fits(f, p + 12, p + 8 + le32(f, p + 4), depth + 1)) return false;
  }
  return true;
}

// The standard index chunk at `at` lists, in order, the source's chunks at the engine's offsets
// (used from index 1), each copied whole: id, size and data.
bool listsTheSourceChunks(const std::vector<uint8_t>& out, uint64_t at, const char* ix, const std::vector<uint8_t>& src,
                          const std::vector<uint64_t>& offsets, uint64_t count) {
  if (!idAt(out, at, ix) || le32(out, at + 12) != count || at + 32 + count * 8 > out.size()) return false;
  const uint64_t base = qvr::readLE64(&out[at + 20]);
  for (uint64_t i = 0; i < count; ++i) {
    const uint64_t data = base + le32(out, at + 32 + i * 8), size = le32(out, at + 36 + i * 8), from = offsets[i + 1];
    if (data < 8 || data + size > out.size() || from + 8 + size > src.size()) return false;
    if (!std::equal(out.data() + data - 8, out.data() + data + size, src.data() + from)) return false;
  }
  return true;
}

}  // namespace

// The whole AVI job: header and chunk search and reconstruction. Whatever the bytes, the
// job either fails once and writes nothing, or completes once with a file whose sizes hold
// together and whose indexes list exactly the chunks the search found, copied from the source.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string damaged = qvr::fuzz::scratchPath("damaged.avi");
  const std::string repaired = qvr::fuzz::scratchPath("repaired.avi");
  qvr::fuzz::writeWhole(damaged, data, size);
  std::remove(repaired.c_str());
  qvr::fuzz::QuietDelegate delegate;
  RepairFileAvi engine;
  engine.delegate = &delegate;
  (void)engine.fileValidityCheck(damaged);
  engine.retrieveAudioVideoSamplesForFileAtPath(damaged, repaired);
  const std::vector<uint8_t> out = readAll(repaired);
  if (delegate.failed + delegate.completed != 1) std::abort();
  if (delegate.failed != 0 && !out.empty()) std::abort();
  if (delegate.completed != 0) {
    const std::vector<uint8_t> src = readAll(damaged);
    const bool sound = out.size() > 12 && idAt(out, 0, "RIFF") && le32(out, 4) + uint64_t(8) == out.size() &&
                       fits(out, 12, out.size(), 0) &&
                       listsTheSourceChunks(out, engine.ix00location - 8, "ix00", src, engine.videosampleoffsetarray,
                                            engine.videosamplecount) &&
                       listsTheSourceChunks(out, engine.ix01location, "ix01", src, engine.audiosampleoffsetarray,
                                            engine.audiosamplecount);
    if (!sound) std::abort();
  }
  std::remove(repaired.c_str());
  return 0;
}
