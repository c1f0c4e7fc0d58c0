// Assembly of the repaired movie: one media-data box holding every recovered sample in chunk
// order, followed by a movie box synthesised from the reference and the new sample tables.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "bitstream/NALU.h"
#include "bitstream/SPS.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader.h"
#include "bitstream/SliceHeader_265.h"
#include "boxes/Ctts.h"
#include "boxes/Mdia.h"
#include "boxes/Minf.h"
#include "boxes/Moov.h"
#include "boxes/Stbl.h"
#include "foundation/ByteOrder.h"
#include "foundation/FileHandle.h"
#include "foundation/Pause.h"
#include "repair/FrameTables.h"
#include "repair/RepairFile.h"

namespace {
constexpr uint64_t kCopyPiece = 16u << 20;
constexpr uint64_t kMdatHeaderSize = 16;

const Stbl* videoTable(const File& file) {
  const Trak* video = file.moov ? file.moov->getTrakWithType(1) : nullptr;
  if (!video || !video->mdia || !video->mdia->minf) return nullptr;
  return video->mdia->minf->stbl.get();
}

bool nameIs(const NALU& n, const char* name) { return n.setName && *n.setName == name; }

qvr::PictureInfo avcPicture(const Sample& sample) {
  qvr::PictureInfo info;
  const NALU* slice = sample.firstSlice.get();
  if (!slice) return info;
  info.isPicture = true;
  info.isSync = slice->NALType == 5;
  info.resetsOrder = info.isSync;
  info.isIntra = slice->sliceType >= 0 && (slice->sliceType % 5 == 2 || slice->sliceType % 5 == 4);
  info.isDisposable = slice->NRI == 0;
  info.isReference = slice->NRI != 0;
  if (const auto* header = dynamic_cast<const SliceHeader*>(slice->RBSP.get())) {
    if (header->pic_order_cnt_lsb >= 0) info.pocLsb = header->pic_order_cnt_lsb;
  }
  return info;
}

qvr::PictureInfo hevcPicture(const Sample& sample) {
  qvr::PictureInfo info;
  const NALU* slice = sample.firstSlice.get();
  if (!slice) return info;
  const uint32_t type = slice->NALType;
  info.isPicture = true;
  info.isSync = type >= 16 && type <= 23;
  info.resetsOrder = type == 19 || type == 20;  // IDR pictures start a new order
  // Sub-layer non-reference pictures carry the even types below 16.
  info.isDisposable = type < 16 && type % 2 == 0;
  // Order counts carry on from the last picture of the lowest temporal layer.
  info.isReference = !info.isDisposable && slice->NTempID == 1;
  info.isIntra = info.isSync;
  if (type == 19 || type == 20) {
    info.pocLsb = 0;  // an IDR picture carries no order count: it is 0
  } else if (const auto* header = dynamic_cast<const SliceHeader_265*>(slice->RBSP.get())) {
    if (header->pic_order_cnt_lsb >= 0) info.pocLsb = header->pic_order_cnt_lsb;
    info.isIntra = header->slice_type == 2;
  }
  return info;
}
}  // namespace

bool RepairFile::isPrefixSample(const Sample& sample) {
  if (!sample.nal) return false;
  if (sample.sampleType == kSampleTypeH264) {
    uint32_t t = sample.nal->NALType;
    return t == 6 || t == 8 || t == 9;
  }
  if (sample.sampleType == kSampleTypeH265) {
    const NALU& n = *sample.nal;
    return nameIs(n, "Unspecified") || nameIs(n, "PPS") || nameIs(n, "SEI") || nameIs(n, "AUD");
  }
  return false;
}

// The media data as it is written: the ranges of the damaged file are copied on a thread of their
// own, in the order given, while the caller goes on (with the scan, or with the sample tables).
struct RepairFile::MdatWriter {
  MdatWriter(std::unique_ptr<qvr::ReadHandle> input, std::unique_ptr<qvr::WriteHandle> output,
             const std::atomic<bool>& pauseFlag, const std::atomic<bool>& stopFlag)
      : in(std::move(input)), out(std::move(output)), pause(pauseFlag), stop(stopFlag) {}
  ~MdatWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ranges.clear();  // abandoned: what is not copied yet never will be
    }
    endCopies();
    if (out) out->discard();
  }

  void start() {
    copier = std::thread([this] { copy(); });
  }

  void queue(uint64_t offset, uint64_t length) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ranges.push_back({offset, length});
      queued += length;
    }
    changed.notify_all();
  }

  // Waits for the queued copies; false when one failed or the job was stopped.
  bool endCopies() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      closing = true;
    }
    changed.notify_all();
    if (copier.joinable()) copier.join();
    return !failed;
  }

  // Bytes copied so far of those queued.
  std::pair<uint64_t, uint64_t> copiedOfQueued() {
    std::lock_guard<std::mutex> lock(mutex);
    return {copied, queued};
  }

  void waitForProgress() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, std::chrono::milliseconds(50), [&] { return failed || copied == queued; });
  }

  void copy() {
    std::vector<qvr::WriteHandle::Range> batch;
    while (true) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return closing || !ranges.empty(); });
        if (ranges.empty()) return;
        batch.assign(ranges.begin(), ranges.end());
        ranges.clear();
      }
      // Bytes past the end of the damaged file (the cut-off tail of the last unit) are written
      // as zeros, so every sample is as long as its table says.
      const bool ok = qvr::pausePoint(pause, stop) && out->copyFrom(*in, batch);
      uint64_t bytes = 0;
      for (const auto& range : batch) bytes += range.length;
      {
        std::lock_guard<std::mutex> lock(mutex);
        copied += bytes;
        failed = failed || !ok;
      }
      changed.notify_all();
      if (!ok) return;
    }
  }

  std::unique_ptr<qvr::ReadHandle> in;
  std::unique_ptr<qvr::WriteHandle> out;
  const std::atomic<bool>& pause;
  const std::atomic<bool>& stop;
  std::thread copier;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<qvr::WriteHandle::Range> ranges;
  uint64_t queued = 0;
  uint64_t copied = 0;
  bool closing = false;
  bool failed = false;

  // The sample tables as the chunks go out.
  std::vector<uint64_t> videoOffsets;
  std::vector<uint64_t> audioOffsets;
  std::vector<uint32_t> videoSizes;
  std::vector<uint32_t> audioSizes;
  uint64_t pending = 0;  // non-picture units waiting for the picture they fold into
  uint64_t copyStart = 0;
  uint64_t copyLength = 0;
  uint64_t end = 0;          // of the media data, queued copies included
  size_t chunksWritten = 0;  // of sampleArray, while the scan writes beside itself
  bool leadingWritten = false;
};

RepairFile::RepairFile() = default;
RepairFile::~RepairFile() = default;

void RepairFile::abandonWriting() { streaming_.reset(); }

std::unique_ptr<RepairFile::MdatWriter> RepairFile::startMdat(const std::string& output, const std::string& corrupt,
                                                              bool reportErrors) {
  auto in = qvr::ReadHandle::open(corrupt);
  if (!in) {
    if (reportErrors) sendErrorWithCode(kErrorCorruptFileUnreadable, kReasonCorruptFileUnreadable);
    return nullptr;
  }
  // The movie is written under a temporary name and renamed only when complete.
  auto out = qvr::WriteHandle::create(output, true);
  if (!out) {
    if (reportErrors) sendErrorWithCode(static_cast<int32_t>(qvr::kErrorCannotWrite), qvr::kCannotWriteReason);
    return nullptr;
  }
  auto w = std::make_unique<MdatWriter>(std::move(in), std::move(out), pauseRepairing, stopflag);
  videoEntries_.clear();
  ftypSize = 0;
  const uint8_t placeholder[kMdatHeaderSize] = {};
  w->out->write(placeholder, sizeof placeholder);
  w->end = w->out->offset();
  w->start();
  return w;
}

void RepairFile::startWritingBesideScan(const std::string& output, const std::string& corrupt) {
  // Where the output cannot be made now, the writing after the scan meets and reports it.
  streaming_ = startMdat(output, corrupt, false);
}

// The chunks whose contents are settled, in the order the movie holds them: the leading region's
// AAC chunk (once its search has told whether it has one) first, and nothing past a chunk whose
// search has not come back.
void RepairFile::writeSettledChunks(bool scanEnded) {
  if (!streaming_ || stopflag) return;
  MdatWriter& w = *streaming_;
  if (aacSearches_ != nullptr && !leadingSettled_ && !scanEnded) return;
  if (!w.leadingWritten) {
    w.leadingWritten = true;
    if (!writeChunk(w, leadingAudio_)) return;
  }
  const size_t settled = pendingAudio_.empty() ? sampleArray.size() : pendingAudio_.front().chunkIndex;
  for (; w.chunksWritten < settled; ++w.chunksWritten) {
    if (!writeChunk(w, sampleArray[w.chunksWritten])) return;
  }
}

bool RepairFile::writeSampleAtPath(const std::string& output, const std::string& corrupt) {
  std::unique_ptr<MdatWriter> w = std::move(streaming_);
  const bool besideScan = w != nullptr && w->out->path() == output;
  if (!besideScan) {
    w = startMdat(output, corrupt, true);
    if (!w) return false;
  }
  if (!writeSamples(*w, besideScan)) return false;
  if (!writeHeader(*w->out, output)) return false;
  w->out.reset();
  return true;
}

bool RepairFile::writeChunk(MdatWriter& w, const SampleChunk& chunk) {
  if (chunk.empty()) return true;
  const uint64_t firstType = chunk.front()->sampleType;
  if (firstType == kSampleTypeH264 || firstType == kSampleTypeH265) {
    w.videoOffsets.push_back(w.end);
  } else {
    w.audioOffsets.push_back(w.end);
  }
  size_t entriesInChunk = 0;
  for (const auto& sample : chunk) {
    if (stopflag) return false;
    if (!qvr::pausePoint(pauseRepairing, stopflag)) return false;
    switch (sample->sampleType) {
      case kSampleTypeH264:
      case kSampleTypeH265:
        if (isPrefixSample(*sample)) {
          w.pending += sample->sampleSize;
        } else {
          w.videoSizes.push_back(static_cast<uint32_t>(sample->sampleSize + w.pending));
          videoEntries_.push_back(sample.get());
          ++entriesInChunk;
          w.pending = 0;
        }
        break;
      case kSampleTypeAAC:
        w.audioSizes.push_back(static_cast<uint32_t>(sample->sampleSize));
        break;
      default:
        break;
    }
    // Samples that lie back to back in the damaged file are copied as one range (inside the
    // kernel where the files allow it), up to a size that keeps the stop flag looked at often.
    if (w.copyLength > 0 && (sample->sampleOffset != w.copyStart + w.copyLength || w.copyLength >= kCopyPiece)) {
      w.queue(w.copyStart, w.copyLength);
      w.copyLength = 0;
    }
    if (w.copyLength == 0) w.copyStart = sample->sampleOffset;
    w.copyLength += sample->sampleSize;
    w.end += sample->sampleSize;
  }
  // A sample is read from one place, so non-picture units at the end of a chunk belong to the
  // picture before them: carried over into the next chunk, whose data starts elsewhere, they
  // would shift every sample of that chunk.
  if (w.pending > 0 && entriesInChunk > 0) w.videoSizes.back() += static_cast<uint32_t>(w.pending);
  w.pending = 0;
  return true;
}

bool RepairFile::writeSamples(MdatWriter& w, bool besideScan) {
  if (!videoRequest || !audioRequest) return false;
  sendTask(kTaskWriting);
  if (!besideScan) {
    w.videoSizes.reserve(videoSampleArray.size());
    videoEntries_.reserve(videoSampleArray.size());
    w.audioSizes.reserve(audioSampleArray.size());
    const size_t chunks = sampleArray.size();
    for (size_t i = 0; i < chunks; ++i) {
      sendProgress(static_cast<int32_t>(i * 100 / chunks));
      if (!writeChunk(w, sampleArray[i])) return false;
    }
  }
  if (w.copyLength > 0) w.queue(w.copyStart, w.copyLength);
  w.copyLength = 0;
  // What is left is the copying the chunks queued.
  while (true) {
    const auto [copied, queued] = w.copiedOfQueued();
    sendProgress(queued == 0 ? 99 : static_cast<int32_t>(std::min<uint64_t>(99, copied * 100 / queued)));
    if (stopflag || !qvr::pausePoint(pauseRepairing, stopflag)) return false;
    if (copied == queued) break;
    w.waitForProgress();
  }
  if (!w.endCopies()) {
    if (!stopflag) sendErrorWithCode(static_cast<int32_t>(qvr::kErrorCannotWrite), qvr::kCannotWriteReason);
    return false;
  }
  fileSize1 = w.out->offset();
  videoSamplesWritten_ = w.videoSizes.size();
  audioSamplesWritten_ = w.audioSizes.size();

  audioRequest->stcoEntries = std::move(w.audioOffsets);
  audioRequest->stszEntries = std::move(w.audioSizes);
  audioRequest->timeScale = healthyFile->audioTrackTimeScale();
  audioRequest->FPS = healthyFile->audioFPS();
  videoRequest->stcoEntries = std::move(w.videoOffsets);
  videoRequest->stszEntries = std::move(w.videoSizes);
  videoRequest->timeScale = healthyFile->videoTrackTimeScale();
  videoRequest->FPS = healthyFile->videoFPS();
  addFrameTables();
  return true;
}

void RepairFile::addFrameTables() {
  const Stbl* reference = videoTable(*healthyFile);
  if (!reference) return;
  const bool hevc = healthyFile->videoCodec == 1002;
  std::vector<qvr::PictureInfo> pictures;
  pictures.reserve(videoEntries_.size());
  for (const Sample* s : videoEntries_) pictures.push_back(hevc ? hevcPicture(*s) : avcPicture(*s));

  uint32_t maxPocLsb = 0;
  const ReferenceParameterSets sets = referenceParameterSets();
  if (!hevc && sets.sps && sets.sps->pic_order_cnt_type == 0) {
    maxPocLsb = static_cast<uint32_t>(sets.sps->MaxPicOrderCntLsb);
  } else if (hevc && sets.sps265 && sets.sps265->log2_max_pic_order_cnt_lsb_minus4 >= 0 &&
             sets.sps265->log2_max_pic_order_cnt_lsb_minus4 <= 12) {
    maxPocLsb = 1u << (sets.sps265->log2_max_pic_order_cnt_lsb_minus4 + 4);
  }
  // The same constant sample duration the synthesised time-to-sample table will carry.
  double perSample = videoRequest->FPS > 0 ? videoRequest->timeScale / videoRequest->FPS : 0.0;
  uint32_t duration = perSample >= 1.0 && perSample < 4294967296.0 ? static_cast<uint32_t>(perSample) : 1;
  qvr::FrameTables tables = qvr::deriveFrameTables(pictures, maxPocLsb, duration);

  if (reference->stss) videoRequest->syncSamples = std::move(tables.syncSamples);
  if (reference->sdtp) videoRequest->sdtpData = std::move(tables.sdtp);
  const bool referenceOffsets = reference->ctts && reference->ctts->numberOfEntries >= 2;
  // Without composition offsets every picture is shown at its decoding time, the first at 0: an
  // edit starting one sample later would hide the first picture.
  if (!referenceOffsets) videoRequest->editMediaTime = 0;
  if (referenceOffsets && tables.compositionOffsets) {
    std::vector<qvr::CompositionOffsetRun> runs;
    for (uint32_t offset : *tables.compositionOffsets) {
      if (!runs.empty() && runs.back().compositionOffset == offset) {
        ++runs.back().sampleCount;
      } else {
        runs.push_back({1, offset});
      }
    }
    videoRequest->compositionOffsets = std::move(runs);
    videoRequest->editMediaTime = tables.editMediaTime;
  }
}

bool RepairFile::writeHeader(qvr::WriteHandle& out, const std::string& output) {
  File repaired(File::kRepairedFile, output);
  repaired.setMoov(healthyFile->createMoovHeaderWithVideoRequest(*videoRequest, *audioRequest));
  // A movie without its movie box would not play: the reference could not describe it.
  if (!repaired.moov) {
    sendErrorWithCode(kErrorInvalidHealthyFile, kReasonInvalidHealthyFile);
    return false;
  }
  sendInfoToUIVideoCodec(healthyFile->videoCodec, healthyFile->videoFPS(), repaired.numberOfTracks(),
                         repaired.durationOfFile());
  uint8_t header[kMdatHeaderSize];
  qvr::storeBE32(header, 1);
  std::memcpy(header + 4, "mdat", 4);
  qvr::storeBE32(header + 8, static_cast<uint32_t>(fileSize1 >> 32));
  qvr::storeBE32(header + 12, static_cast<uint32_t>(fileSize1));
  bool ok = out.writeAt(ftypSize, header, sizeof header);
  ok = ok && repaired.writeToFileHandle(out);
  ok = ok && out.commit();
  if (!ok) {
    sendErrorWithCode(static_cast<int32_t>(qvr::kErrorCannotWrite), qvr::kCannotWriteReason);
    return false;
  }
  return true;
}
