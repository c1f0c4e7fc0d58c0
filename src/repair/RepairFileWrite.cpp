// Assembly of the repaired movie: one media-data box holding every recovered sample in chunk
// order, followed by a movie box synthesised from the reference and the new sample tables.
#include <algorithm>
#include <cstring>

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

bool RepairFile::writeSampleAtPath(const std::string& output, const std::string& corrupt) {
  auto in = qvr::ReadHandle::open(corrupt);
  if (!in) {
    sendErrorWithCode(kErrorCorruptFileUnreadable, kReasonCorruptFileUnreadable);
    return false;
  }
  // The movie is written under a temporary name and renamed only when complete.
  auto out = qvr::WriteHandle::create(output, true);
  if (!out) {
    sendErrorWithCode(static_cast<int32_t>(qvr::kErrorCannotWrite), qvr::kCannotWriteReason);
    return false;
  }
  if (!writeSamples(*out, *in)) {
    out->discard();
    return false;
  }
  if (!writeHeader(*out, output)) {
    out->discard();
    return false;
  }
  return true;
}

bool RepairFile::writeSamples(qvr::WriteHandle& out, qvr::ReadHandle& in) {
  if (!videoRequest || !audioRequest) return false;
  std::vector<uint64_t> videoOffsets;
  std::vector<uint64_t> audioOffsets;
  std::vector<uint32_t> videoSizes;
  std::vector<uint32_t> audioSizes;
  videoEntries_.clear();
  videoSizes.reserve(videoSampleArray.size());
  videoEntries_.reserve(videoSampleArray.size());
  audioSizes.reserve(audioSampleArray.size());
  ftypSize = 0;
  uint64_t pending = 0;

  const uint8_t placeholder[kMdatHeaderSize] = {};
  out.write(placeholder, sizeof placeholder);
  fileSize1 = out.offset();
  sendTask(kTaskWriting);

  uint64_t copyStart = 0;
  uint64_t copyLength = 0;
  // Bytes past the end of the damaged file (the cut-off tail of the last unit) are written as
  // zeros, so every sample is as long as its table says.
  auto copyRange = [&](uint64_t at, uint64_t length) {
    if (!out.copyFrom(in, at, length)) {
      sendErrorWithCode(static_cast<int32_t>(qvr::kErrorCannotWrite), qvr::kCannotWriteReason);
      return false;
    }
    return true;
  };
  const size_t chunks = sampleArray.size();
  for (size_t i = 0; i < chunks; ++i) {
    sendProgress(static_cast<int32_t>(i * 100 / chunks));
    const SampleChunk& chunk = sampleArray[i];
    if (chunk.empty()) continue;
    const uint64_t firstType = chunk.front()->sampleType;
    if (firstType == kSampleTypeH264 || firstType == kSampleTypeH265) {
      videoOffsets.push_back(fileSize1);
    } else {
      audioOffsets.push_back(fileSize1);
    }
    size_t entriesInChunk = 0;
    for (const auto& sample : chunk) {
      if (stopflag) return false;
      if (!qvr::pausePoint(pauseRepairing, stopflag)) return false;
      switch (sample->sampleType) {
        case kSampleTypeH264:
        case kSampleTypeH265:
          if (isPrefixSample(*sample)) {
            pending += sample->sampleSize;
          } else {
            videoSizes.push_back(static_cast<uint32_t>(sample->sampleSize + pending));
            videoEntries_.push_back(sample.get());
            ++entriesInChunk;
            pending = 0;
          }
          break;
        case kSampleTypeAAC:
          audioSizes.push_back(static_cast<uint32_t>(sample->sampleSize));
          break;
        default:
          break;
      }
      // Samples that lie back to back in the damaged file are copied as one range (inside the
      // kernel where the files allow it), up to a size that keeps the stop flag looked at often.
      if (copyLength > 0 && (sample->sampleOffset != copyStart + copyLength || copyLength >= kCopyPiece)) {
        if (!copyRange(copyStart, copyLength)) return false;
        copyLength = 0;
      }
      if (copyLength == 0) copyStart = sample->sampleOffset;
      copyLength += sample->sampleSize;
      fileSize1 = out.offset() + copyLength;
    }
    // A sample is read from one place, so non-picture units at the end of a chunk belong to the
    // picture before them: carried over into the next chunk, whose data starts elsewhere, they
    // would shift every sample of that chunk.
    if (pending > 0 && entriesInChunk > 0) videoSizes.back() += static_cast<uint32_t>(pending);
    pending = 0;
  }
  if (copyLength > 0 && !copyRange(copyStart, copyLength)) return false;
  fileSize1 = out.offset();
  videoSamplesWritten_ = videoSizes.size();
  audioSamplesWritten_ = audioSizes.size();

  audioRequest->stcoEntries = std::move(audioOffsets);
  audioRequest->stszEntries = std::move(audioSizes);
  audioRequest->timeScale = healthyFile->audioTrackTimeScale();
  audioRequest->FPS = healthyFile->audioFPS();
  videoRequest->stcoEntries = std::move(videoOffsets);
  videoRequest->stszEntries = std::move(videoSizes);
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
