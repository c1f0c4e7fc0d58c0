// Writing the repaired AVI: the layout is computed in full first, so every size and offset is
// written once, in order.

#include <algorithm>
#include <cstring>

#include "avi/RepairFileAvi.h"
#include "foundation/ByteOrder.h"
#include "foundation/FileHandle.h"
#include "foundation/Log.h"
#include "foundation/Pause.h"

using qvr::ReadHandle;
using qvr::WriteHandle;

namespace {

// Chunks are copied in batches, gathered into few writes; between batches the job looks at its
// pause and stop flags.
constexpr size_t kCopyBatchChunks = 1024;
constexpr uint64_t kCopyBatchBytes = 16u << 20;
// The size of the main header as the rebuilt layout places it.
constexpr uint32_t kAvihSize = 56;
constexpr uint32_t kStrhSize = 56;
constexpr uint32_t kIndxSize = 44;
constexpr uint32_t kSuggestedBufferSize = 0x00FFFFFF;

class Bytes {
 public:
  explicit Bytes(std::vector<uint8_t>& out) : out_(out) {}
  Bytes& id(const char* fourcc) { return raw(reinterpret_cast<const uint8_t*>(fourcc), 4); }
  Bytes& u32(uint64_t v) { return raw(RepairFileAvi::convertIntToData(v)); }
  Bytes& u64(uint64_t v) { return raw(RepairFileAvi::convertIntTo8byteData(v)); }
  Bytes& raw(const uint8_t* p, size_t n) {
    const size_t at = out_.size();
    out_.resize(at + n);
    if (n) std::memcpy(out_.data() + at, p, n);
    return *this;
  }
  template <size_t N>
  Bytes& raw(const std::array<uint8_t, N>& a) {
    return raw(a.data(), N);
  }
  Bytes& raw(const std::vector<uint8_t>& v) { return raw(v.data(), v.size()); }
  Bytes& zero(size_t n) {
    out_.insert(out_.end(), n, 0);
    return *this;
  }

 private:
  std::vector<uint8_t>& out_;
};

// Header of a standard index (`ix00`/`ix01`) after its id and size: wLongsPerEntry 2,
// bIndexSubType 0, bIndexType 1 (index of chunks).
const uint8_t kStandardIndexType[4] = {0x02, 0x00, 0x00, 0x01};

}  // namespace

void RepairFileAvi::computeLayout() {
  const uint64_t NV = videosamplecount, NA = audiosamplecount;
  const uint64_t V = videostrfsize, A = audiostrfsize;
  ix00size = NV * 8 + 24;
  ix01size = NA * 8 + 24;
  videoindxsize = kIndxSize;
  audioindxsize = kIndxSize;
  videodatasize = 0;
  for (uint64_t i = 1; i <= NV; ++i) videodatasize += videosamplesizearray[i];
  audiodatasize = 0;
  for (uint64_t i = 1; i <= NA; ++i) audiodatasize += audiosamplesizearray[i];
  ix00location = V + A + 380;
  ix01location = ix00location + ix00size;
  videostrlListsize = V + 128;
  audiostrlListsize = A + 128;
  AVILISTsize = V + A + 340;
  baseoffsetforvideo = ix00size + ix01size + AVILISTsize + 48;
  baseoffsetforaudio = baseoffsetforvideo + videodatasize + 8 * NV;
  movisize = ix00size + ix01size + 8 * NV + 8 * NA + videodatasize + audiodatasize + 20;
  RIFFLISTsize = AVILISTsize + movisize + 20;
}

// Everything from the RIFF header to the first `ix00` entry.
std::vector<uint8_t> RepairFileAvi::headerBytes() const {
  const uint64_t NV = videosamplecount, NA = audiosamplecount;
  std::vector<uint8_t> out;
  out.reserve(videostrfdata.size() + audiostrfdata.size() + 404);
  Bytes b(out);
  b.id("RIFF").u32(RIFFLISTsize).id("AVI ");
  b.id("LIST").u32(AVILISTsize).id("hdrl");
  // The damaged file's own avih size would put every later field out of place when it is not
  // the one this layout writes.
  b.id("avih").u32(kAvihSize).raw(avihdata1.data() + 4, 16).u32(NV).raw(avihdata2);

  b.id("LIST").u32(videostrlListsize).id("strl").id("strh").u32(kStrhSize).id("vids");
  b.raw(videocodec).zero(12).raw(videoscaleratedata).zero(4).u32(NV).u32(kSuggestedBufferSize).zero(4);
  b.raw(videoscaledata).zero(8);
  b.id("strf").u32(videostrfsize).raw(videostrfdata);
  b.id("indx").u32(kIndxSize);
  b.raw(std::array<uint8_t, 4>{4, 0, 0, 0}).u32(1).id("00db").zero(12);
  b.u64(ix00location - 8).u32(ix00size + 4).u64(NV);

  b.id("LIST").u32(audiostrlListsize).id("strl").id("strh").u32(kStrhSize).id("auds");
  b.raw(audiocodec).zero(12).raw(audioscaleratedata).zero(4).u32(NA).u32(kSuggestedBufferSize).zero(4);
  b.raw(audioscaledata).zero(8);
  b.id("strf").u32(audiostrfsize).raw(audiostrfdata);
  b.id("indx").u32(kIndxSize);
  b.raw(std::array<uint8_t, 4>{4, 0, 0, 0}).u32(1).id("01wb").zero(12);
  b.u64(ix01location).u32(ix01size + 4).u64(NA);

  b.id("LIST").u32(movisize).id("movi");
  b.id("ix00").u32(ix00size).raw(kStandardIndexType, 4).u32(NV).id(db ? "00db" : "00dc");
  b.u64(baseoffsetforvideo).zero(4);
  return out;
}

// One (offset, size) entry per chunk, the offset pointing at the chunk's data relative to the
// track's first chunk.
bool RepairFileAvi::writeIndexEntries(WriteHandle& out, const std::vector<uint64_t>& sizes, uint64_t count) {
  std::vector<uint8_t> entries;
  entries.reserve(static_cast<size_t>(std::min<uint64_t>(count, 1u << 16) * 8));
  uint64_t dataBefore = 0;
  for (uint64_t i = 1; i <= count; ++i) {
    if (!qvr::pausePoint(pauseRepairingAVI, stopflag)) return false;
    qvr::putLE32(entries, static_cast<uint32_t>(8 * i + dataBefore));
    qvr::putLE32(entries, static_cast<uint32_t>(sizes[i]));
    dataBefore += sizes[i];
    if (entries.size() >= (1u << 19)) {
      if (!out.write(entries)) return false;
      entries.clear();
    }
  }
  return out.write(entries);
}

bool RepairFileAvi::copyChunks(ReadHandle& in, WriteHandle& out, const std::vector<uint64_t>& offsets,
                               const std::vector<uint64_t>& sizes, uint64_t count) {
  std::vector<WriteHandle::Range> batch;
  uint64_t batchBytes = 0;
  for (uint64_t i = 1; i <= count; ++i) {
    batch.push_back({offsets[i], sizes[i] + 8});
    batchBytes += sizes[i] + 8;
    if (i < count && batch.size() < kCopyBatchChunks && batchBytes < kCopyBatchBytes) continue;
    if (!qvr::pausePoint(pauseRepairingAVI, stopflag)) return false;
    // A short chunk would shift every later chunk away from its index entry: the part the source
    // cannot supply is written as zeros.
    uint64_t supplied = 0;
    if (!out.copyFrom(in, batch, &supplied)) return false;
    if (supplied < batchBytes) {
      qvr::log("Read error in %s: %llu bytes of the chunks from %llu on were written as zeros", in.path().c_str(),
               static_cast<unsigned long long>(batchBytes - supplied),
               static_cast<unsigned long long>(batch.front().offset));
    }
    batch.clear();
    batchBytes = 0;
  }
  return true;
}

void RepairFileAvi::constructRIFFListWithFileHandle(ReadHandle& in, const std::string& outputPath) {
  // A stopped job writes nothing: its output would only be headers around missing data.
  if (stopflag) return;
  sendTask("Repairing the file..");
  sendProgress(80);
  computeLayout();

  if (videosamplecount == 0 && audiosamplecount == 0) {
    // A file of headers alone plays nothing; that is a failed repair, not a finished one.
    if (!stopflag) sendError(kErrorCannotRepair, kCannotRepairReason);
    return;
  }
  if (RIFFLISTsize + 8 > UINT32_MAX) {
    qvr::log("Repaired AVI would need %llu bytes, more than one RIFF form holds",
             static_cast<unsigned long long>(RIFFLISTsize + 8));
    sendError(kErrorCannotRepair, kCannotRepairReason);
    return;
  }

  auto out = WriteHandle::create(outputPath);
  if (!out) {
    sendError(qvr::kErrorCannotWrite, qvr::kCannotWriteReason);
    return;
  }
  bool ok = out->write(headerBytes()) && writeIndexEntries(*out, videosamplesizearray, videosamplecount);
  if (ok) {
    std::vector<uint8_t> ix01;
    Bytes(ix01).id("ix01").u32(ix01size).raw(kStandardIndexType, 4).u32(audiosamplecount).id("01wb");
    Bytes(ix01).u64(baseoffsetforaudio).zero(4);
    ok = out->write(ix01) && writeIndexEntries(*out, audiosamplesizearray, audiosamplecount);
  }
  ok = ok && copyChunks(in, *out, videosampleoffsetarray, videosamplesizearray, videosamplecount);
  ok = ok && copyChunks(in, *out, audiosampleoffsetarray, audiosamplesizearray, audiosamplecount);

  if (stopflag) {
    // An abandoned job leaves nothing behind and reports nothing.
    out->discard();
    return;
  }
  if (!ok || !out->commit()) {
    out->discard();
    sendError(qvr::kErrorCannotWrite, qvr::kCannotWriteReason);
    return;
  }
  sendProgress(100);
  sendDetails();
  if (delegate) delegate->repairFileDidComplete();
}
