// Video sample recovery: every offset of the damaged file is tried as the start of a chain of
// length-prefixed NAL units that the reference's parameter sets accept; the bytes between two
// such chains are the interleaved audio.
#include <neaacdec.h>

#include <algorithm>
#include <cstring>

#include "bitstream/NALU.h"
#include "bitstream/SPS.h"
#include "bitstream/SPS_265.h"
#include "bitstream/SliceHeader_265.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/Moov.h"
#include "boxes/Stsd.h"
#include "foundation/ByteOrder.h"
#include "foundation/FileHandle.h"
#include "foundation/Pause.h"
#include "repair/AacDecoderStock.h"
#include "repair/AacFrameSearch.h"
#include "repair/AacSearchQueue.h"
#include "repair/RepairFile.h"

namespace {
// How far (either way) a lone H.265 picture's order count may lie from the last picture's.
constexpr int32_t kNearbyOrderCount = 32;
// Reads at most this much of the damaged file per refill while scanning.
constexpr size_t kScanBufferSize = 8u << 20;

bool isPcm(uint64_t audioCodec) { return isUncompressedAudio(static_cast<int64_t>(audioCodec)); }

constexpr uint32_t kMdat = 0x6D646174;  // "mdat"

bool isFourCC(uint32_t type) {
  for (int shift = 0; shift < 32; shift += 8) {
    const uint8_t c = static_cast<uint8_t>(type >> shift);
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The media data box the damaged file's top-level boxes lead to before `limit`, as the offset of
// its data and its end (UINT64_MAX when it runs to the end of the file); none when the boxes do
// not lead there.
std::optional<std::pair<uint64_t, uint64_t>> mediaDataBefore(qvr::ReadHandle& handle, uint64_t limit) {
  uint64_t at = 0;
  while (at + 8 <= limit) {
    uint8_t header[16] = {};
    if (handle.readAt(at, header, sizeof header) < 8) return std::nullopt;
    const uint32_t size32 = qvr::readBE32(header);
    const uint32_t type = qvr::readBE32(header + 4);
    const uint64_t size = size32 == 1 ? qvr::readBE64(header + 8) : size32;
    const uint64_t headerBytes = size32 == 1 ? 16 : 8;
    if (!isFourCC(type) || (size != 0 && size < headerBytes)) return std::nullopt;
    if (type == kMdat) {
      if (at + headerBytes > limit) return std::nullopt;
      return std::pair{at + headerBytes, size == 0 || size > UINT64_MAX - at ? UINT64_MAX : at + size};
    }
    if (size == 0 || size > limit - at) return std::nullopt;
    at += size;
  }
  return std::nullopt;
}

// The longest run of zero bytes of at least 4 KiB in [offset, offset + length), as absolute offsets.
std::optional<std::pair<uint64_t, uint64_t>> longestZeroRun(qvr::ReadHandle& handle, uint64_t offset, uint64_t length) {
  constexpr uint64_t kLeast = 4u << 10;
  std::vector<uint8_t> block(std::min<uint64_t>(length, 1u << 20));
  std::pair<uint64_t, uint64_t> best{0, 0};
  uint64_t runStart = offset;
  for (uint64_t at = offset; at < offset + length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), offset + length - at));
    if (handle.readAt(at, block.data(), n) != n) return std::nullopt;
    for (size_t i = 0; i < n; ++i) {
      if (block[i] != 0) {
        runStart = at + i + 1;
      } else if (at + i + 1 - runStart > best.second - best.first) {
        best = {runStart, at + i + 1};
      }
    }
    at += n;
  }
  if (best.second - best.first < kLeast) return std::nullopt;
  return best;
}

bool nameIs(const NALU& n, const char* name) { return n.setName && *n.setName == name; }
bool isParameterSetName(const NALU& n) { return nameIs(n, "VPS") || nameIs(n, "SPS") || nameIs(n, "PPS"); }

}  // namespace

ReferenceParameterSets RepairFile::referenceParameterSets() const {
  ReferenceParameterSets sets;
  if (!healthyFile || !healthyFile->moov) return sets;
  const Trak* video = healthyFile->moov->getTrakWithType(1);
  const Stsd* stsd = video ? video->stsd() : nullptr;
  if (!stsd) return sets;
  if (healthyFile->videoCodec == 1002) {
    sets.vps = stsd->hevcVPS();
    sets.sps265 = stsd->hevcSPS();
    sets.pps265 = stsd->hevcPPS();
  } else {
    sets.sps = stsd->avcSPS();
    sets.pps = stsd->avcPPS();
  }
  return sets;
}

std::shared_ptr<NALU> RepairFile::isNaluAtOffset(uint64_t offset, qvr::BufferedReader& reader, uint8_t sizeBytesLength,
                                                 const ReferenceParameterSets& sets) {
  // Past the end of the file the window reads as zeros, which never decode as a unit.
  const uint8_t* window = reader.window(offset, kCandidateWindow);
  // A unit of 2,200,000 bytes or more ends a run whatever it holds, so it is turned away before
  // it is decoded. The prefix is read as wide as the reference says.
  uint64_t prefix = 0;
  for (uint32_t i = 0; i < sizeBytesLength && i < 4; ++i) prefix = prefix << 8 | window[i];
  if (prefix == 0 || prefix + sizeBytesLength >= kMaxNaluSize) return nullptr;
  std::unique_ptr<NALU> unit;
  if (sets.hevc()) {
    unit = NALU::initNALUWithBytes(window, kCandidateWindow, sizeBytesLength, sets.vps.get(), sets.sps265.get(),
                                   sets.pps265.get());
  } else if (sizeBytesLength <= 4 && (window[sizeBytesLength] & 31) == 14) {
    // A picture wrapped in a prefix unit may carry SEI ahead of its slice.
    window = reader.window(offset, NALU::kWrappedWindow);
    unit = NALU::initNALUWithBytes(window, NALU::kWrappedWindow, sizeBytesLength, sets.sps.get(), sets.pps.get());
  } else {
    unit = NALU::initNALUWithBytes(window, kCandidateWindow, sizeBytesLength, sets.sps.get(), sets.pps.get());
  }
  return std::shared_ptr<NALU>(std::move(unit));
}

uint64_t RepairFile::nextPossibleUnit(qvr::BufferedReader& reader, uint64_t offset, uint64_t fileSize,
                                      uint8_t sizeBytesLength) {
  // With a prefix of three or four bytes, most bytes of audio or junk rule a unit out on their own:
  // its length would reach past the limit that turns a unit away before it is decoded. They are
  // passed over a span at a time (the stop flag and the progress are looked at between spans). The
  // span is short: a window reaching far into a picture would refill the buffer with its bytes.
  constexpr uint64_t kSpan = 4u << 10;
  if (sizeBytesLength < 3 || offset >= fileSize) return offset;
  const size_t span = static_cast<size_t>(std::min<uint64_t>(kSpan, fileSize - offset));
  const uint8_t* window = reader.window(offset, span);
  if (sizeBytesLength >= 4) {
    const void* zero = std::memchr(window, 0, span);
    return zero ? offset + static_cast<uint64_t>(static_cast<const uint8_t*>(zero) - window) : offset + span;
  }
  static_assert(kMaxNaluSize <= 0x22u << 16, "a first byte of 0x22 or more must rule a unit out");
  for (size_t i = 0; i < span; ++i) {
    if (window[i] < 0x22) return offset + i;
  }
  return offset + span;
}

void RepairFile::groupAVC(const std::shared_ptr<NALU>& x, const NALU* p, uint64_t offset, SampleChunk& samples,
                          uint32_t* sampleCount) {
  if (p != nullptr && !samples.empty() && x->NALType == p->NALType && x->sliceType == p->sliceType &&
      x->frameNum == p->frameNum && x->firstMBInSlice > p->firstMBInSlice) {
    samples.back()->sampleSize += x->nalSize;
    return;
  }
  // The second field of a frame (the other parity, the same frame_num) joins the first field's
  // sample, with the units between them: a movie sample holds the whole frame.
  if (x->fieldPicFlag == 1 && x->firstMBInSlice == 0 && (x->NALType == 1 || x->NALType == 5)) {
    size_t picture = samples.size();
    while (picture > 0 && isPrefixSample(*samples[picture - 1])) --picture;
    Sample* first = picture > 0 ? samples[picture - 1].get() : nullptr;
    const NALU* field = first ? first->firstSlice.get() : nullptr;
    if (field && !first->bothFields && field->fieldPicFlag == 1 && field->bottomFieldFlag != x->bottomFieldFlag &&
        field->frameNum == x->frameNum) {
      for (size_t i = picture; i < samples.size(); ++i) first->sampleSize += samples[i]->sampleSize;
      first->sampleSize += x->nalSize;
      first->bothFields = true;
      samples.resize(picture);
      return;
    }
  }
  auto sample = Sample::initWithSampleType(kSampleTypeH264, offset, x->nalSize, x);
  if (x->NALType == 1 || x->NALType == 5) sample->firstSlice = x;
  samples.push_back(std::move(sample));
  if (x->NALType != 6 && x->NALType != 8 && x->NALType != 9) ++*sampleCount;
}

void RepairFile::groupHEVC(const std::shared_ptr<NALU>& x, const NALU* p, bool& picture, uint64_t offset,
                           SampleChunk& samples, uint32_t* sampleCount) {
  const bool xSlice = nameIs(*x, "Slice");
  picture = picture && xSlice;
  bool append = false;
  if (p != nullptr && !samples.empty()) {
    append = (picture && xSlice && x->firstMBInSlice == 0 && x->NALType == p->NALType) ||
             (nameIs(*p, "Slice") && nameIs(*x, "Unspecified")) || (isParameterSetName(*p) && xSlice) ||
             (isParameterSetName(*p) && isParameterSetName(*x));
  }
  // A picture's first slice opens the picture whether or not it joins the parameter sets before
  // it; else its later slices would each become a sample of their own.
  if (xSlice && x->firstMBInSlice == 1) picture = true;
  if (append) {
    Sample& last = *samples.back();
    last.sampleSize += x->nalSize;
    if (xSlice && !last.firstSlice) last.firstSlice = x;
    return;
  }
  auto sample = Sample::initWithSampleType(kSampleTypeH265, offset, x->nalSize, x);
  if (xSlice) sample->firstSlice = x;
  samples.push_back(std::move(sample));
  if (xSlice || nameIs(*x, "SPS") || nameIs(*x, "VPS")) ++*sampleCount;
}

int32_t RepairFile::getNaluAtOffset(uint64_t offset, SampleChunk& samples, qvr::BufferedReader& reader,
                                    uint8_t sizeBytesLength, uint32_t* nalCount, uint32_t* sampleCount,
                                    uint64_t inputFileSize, const ReferenceParameterSets& sets) {
  // The file size does not bound a run: a unit reaching past the end is taken with its declared
  // length (the writer pads it).
  (void)inputFileSize;
  std::shared_ptr<NALU> x = isNaluAtOffset(offset, reader, sizeBytesLength, sets);
  if (!x) return 0;
  std::shared_ptr<NALU> previous;
  bool picture = false;
  int32_t taken = 0;
  uint64_t at = offset;
  // frame_num of the run's last reference picture, once a picture has been seen (H.264).
  const bool gapsAllowed = sets.sps && sets.sps->gaps_in_frame_num_value_allowed_flag == 1;
  const int32_t maxFrameNum = sets.sps ? sets.sps->MaxFrameNum : 0;
  int32_t runRefFrameNum = -1;
  while (x) {
    if (x->nalSize >= kMaxNaluSize) break;
    if (!qvr::pausePoint(pauseRepairing, stopflag)) return 0;
    if (sets.hevc()) {
      groupHEVC(x, previous.get(), picture, at, samples, sampleCount);
    } else {
      const size_t before = samples.size();
      const uint32_t counted = *sampleCount;
      groupAVC(x, previous.get(), at, samples, sampleCount);
      if (samples.size() > before && samples.back()->firstSlice == x && maxFrameNum > 0) {
        // Inside one run the pictures follow each other: each continues the last reference picture
        // (its second field repeats it). A unit that chance made of other bytes breaks the
        // sequence and ends the run before the picture it breaks into, units in front of it too.
        const int32_t frameNum = x->frameNum;
        const bool fits = runRefFrameNum < 0 || gapsAllowed || x->NALType == 5 ||
                          frameNum == (runRefFrameNum + 1) % maxFrameNum ||
                          (x->fieldPicFlag == 1 && frameNum == runRefFrameNum);
        if (!fits) {
          samples.pop_back();
          *sampleCount = counted;
          while (taken > 0 && !samples.empty() && isPrefixSample(*samples.back())) {
            samples.pop_back();
            --taken;
            --*nalCount;
          }
          break;
        }
        if (x->NRI != 0) {
          runRefFrameNum = frameNum;
        } else if (runRefFrameNum < 0) {
          runRefFrameNum = (frameNum + maxFrameNum - 1) % maxFrameNum;  // a non-reference picture continues it
        }
      }
    }
    ++*nalCount;
    ++taken;
    at += x->nalSize;
    previous = x;
    x = isNaluAtOffset(at, reader, sizeBytesLength, sets);
  }
  return taken;
}

void RepairFile::recordSampleToChunk(std::vector<SampleToChunkEntery>& entries, uint32_t chunkNumber,
                                     uint32_t samplesPerChunk) {
  if (!entries.empty() && entries.back().samplesPerChunk == samplesPerChunk) return;
  entries.push_back(SampleToChunkEntery::initWithFirstChunk(chunkNumber, samplesPerChunk, 1));
}

// Interleaved movies often hold one picture per video chunk, a single NAL unit, which the
// two-unit rule alone would pass over. A lone unit is taken when it begins a picture and what
// surrounds it confirms it: the audio that follows decodes, its frame_num continues the pictures
// before it, it is an IDR picture of a movie without AAC audio, or it is the last thing in the file.
bool RepairFile::acceptSingleUnitRun(const SampleChunk& run, qvr::ReadHandle& handle, uint64_t fileSize,
                                     uint64_t audioCodec) {
  if (run.size() != 1 || !run.front()->firstSlice) return false;
  const Sample& sample = *run.front();
  const NALU& x = *sample.nal;
  const bool hevc = sample.sampleType == kSampleTypeH265;
  if (hevc ? x.firstMBInSlice != 1 : x.firstMBInSlice != 0) return false;
  // An IDR picture always has frame_num 0; a later picture continues the last reference picture.
  const bool idr = !hevc && x.NALType == 5;
  if (idr && x.frameNum != 0) return false;
  const bool continues = carriesOn(x, hevc);
  // Chance matches declare sizes anywhere up to the 2,200,000-byte limit; a real picture is not
  // much larger than the largest one seen so far.
  if (largestVideoSample_ > 0 && sample.sampleSize > 4 * largestVideoSample_) return false;
  const uint64_t end = sample.sampleOffset + sample.sampleSize;
  if (end >= fileSize) {
    // Cut by the end of the recording: believable when it continues the pictures before it and
    // is no larger than they are.
    return continues && sample.sampleSize <= 4 * largestVideoSample_;
  }
  if (audioCodec == 1002) {
    // Read aside from the scan buffer, which would otherwise be refilled twice for this look ahead.
    uint8_t window[qvr::AacFrameSearch::kWindowLength] = {};
    size_t got = handle.readAt(end, window, sizeof window);
    qvr::DecodedWindow decoded;
    const bool decodes = qvr::AacFrameSearch::decodesFrameAt(
        aacConfig_, window, got, qvr::AacFrameSearch::Precheck::kOn, nullptr, aacDecoders_, &decoded, end);
    if (decoded) {
      // The region's search begins only once the next video chunk is found, after the next tests.
      constexpr size_t kKept = 4;
      if (decodedWindows_.size() >= kKept) decodedWindows_.pop_front();
      decodedWindows_.push_back(std::move(decoded));
    }
    return decodes;
  }
  if (isPcm(audioCodec)) {
    // PCM chunks hold whole frames, so the audio before the picture comes in whole frames too
    // (the further tracks' bytes aside).
    if (!videoSampleArray.empty()) {
      const Sample& last = *videoSampleArray.back();
      const uint64_t previousEnd = last.sampleOffset + last.sampleSize;
      if (sample.sampleOffset < previousEnd) return false;
      if (!pcmLayout_.fits(sample.sampleOffset - previousEnd)) return false;
    }
  }
  if (hevc) return (x.NALType >= 16 && x.NALType <= 23) || continues;
  return idr || continues;
}

qvr::DecodedWindow RepairFile::takeDecodedWindow(uint64_t offset) {
  for (auto& decoded : decodedWindows_) {
    if (decoded && decoded.offset() == offset) return std::move(decoded);
  }
  return {};
}

bool RepairFile::carriesOn(const NALU& x, bool hevc) const {
  if (hevc) {
    // H.265 has no frame_num: there the picture's order count must lie near the last picture's.
    const auto* header = dynamic_cast<const SliceHeader_265*>(x.RBSP.get());
    if (!header || header->pic_order_cnt_lsb < 0 || prevPocLsb_ < 0 || maxPocLsb_ == 0) return false;
    const int32_t ahead = (header->pic_order_cnt_lsb - prevPocLsb_ + maxPocLsb_) % maxPocLsb_;
    return std::min(ahead, maxPocLsb_ - ahead) <= kNearbyOrderCount;
  }
  return prevRefFrameNum_ >= 0 && maxFrameNum_ > 0 && x.frameNum == (prevRefFrameNum_ + 1) % maxFrameNum_;
}

bool RepairFile::continuesPictures(const Sample& sample) const {
  const NALU* x = sample.firstSlice.get();
  if (!x) return false;
  // Random access pictures start afresh (an IDR picture always with frame_num 0).
  if (sample.sampleType == kSampleTypeH265) return (x->NALType >= 16 && x->NALType <= 23) || carriesOn(*x, true);
  if (x->NALType == 5) return x->frameNum == 0;
  return carriesOn(*x, false);
}

std::optional<uint64_t> RepairFile::continuingRunInside(const SampleChunk& run, qvr::BufferedReader& reader,
                                                        uint8_t sizeBytesLength, uint64_t fileSize,
                                                        const ReferenceParameterSets& sets) {
  const Sample& first = *run.front();
  const uint64_t end = first.sampleOffset + (first.nal ? first.nal->nalSize : first.sampleSize);
  for (uint64_t at = first.sampleOffset + 1; at < end && at < fileSize; ++at) {
    SampleChunk inner;
    uint32_t units = 0, pictures = 0;
    if (getNaluAtOffset(at, inner, reader, sizeBytesLength, &units, &pictures, fileSize, sets) < 2 || pictures == 0)
      continue;
    auto picture = std::find_if(inner.begin(), inner.end(), [](const auto& s) { return s->firstSlice != nullptr; });
    if (picture != inner.end() && continuesPictures(**picture)) return at;
  }
  return std::nullopt;
}

void RepairFile::noteAcceptedRun(const SampleChunk& run) {
  for (const auto& sample : run) {
    largestVideoSample_ = std::max(largestVideoSample_, sample->sampleSize);
    const NALU* slice = sample->firstSlice.get();
    if (slice && sample->sampleType == kSampleTypeH264 && slice->NRI != 0) prevRefFrameNum_ = slice->frameNum;
    if (slice && sample->sampleType == kSampleTypeH265) {
      if (slice->NALType == 19 || slice->NALType == 20) {
        prevPocLsb_ = 0;
      } else if (const auto* header = dynamic_cast<const SliceHeader_265*>(slice->RBSP.get())) {
        if (header->pic_order_cnt_lsb >= 0) prevPocLsb_ = header->pic_order_cnt_lsb;
      }
    }
  }
}

uint64_t RepairFile::pcmChunkFrames(uint64_t bytes, uint32_t frameBytes) {
  if (frameBytes == 0) return 0;
  const uint64_t frames = bytes / frameBytes;
  return frames > UINT32_MAX ? 0 : frames;
}

uint32_t RepairFile::pcmFrameBytes() const {
  const AudioSampleDescriptionEntery* audio =
      healthyFile && healthyFile->audioDecoder ? healthyFile->audioDecoder->asAudio() : nullptr;
  if (audio) {
    if (uint32_t bytes = audio->pcmFrameBytes(); bytes > 0) return bytes;
  }
  return 4;  // 16-bit stereo, the common camera layout
}

namespace {
SampleChunk aacChunk(const std::vector<qvr::AacFrame>& frames) {
  SampleChunk chunk;
  chunk.reserve(frames.size());
  for (const qvr::AacFrame& f : frames) {
    chunk.push_back(Sample::initWithSampleType(kSampleTypeAAC, f.offset, f.size, nullptr));
  }
  return chunk;
}
}  // namespace

std::optional<SampleChunk> RepairFile::analyseAACInFileHandle(qvr::ReadHandle& handle, uint64_t offset, uint64_t size) {
  std::vector<uint8_t> config;
  if (healthyFile) {
    std::span<const uint8_t> info = healthyFile->decoderSpecificInfo();
    config.assign(info.begin(), info.end());
  }
  qvr::AacFrameSearch search(std::move(config), pauseRepairing, stopflag);
  auto frames = search.search(handle, offset, size);
  if (!frames) return std::nullopt;
  return aacChunk(*frames);
}

void RepairFile::recoverAudioBetween(qvr::ReadHandle& handle, uint64_t audioCodec, uint64_t nextVideoOffset) {
  const Sample& last = *videoSampleArray.back();
  const uint64_t end = last.sampleOffset + last.sampleSize;
  if (nextVideoOffset <= end) return;
  const uint64_t gap = nextVideoOffset - end;
  if (isPcm(audioCodec)) {
    // Every PCM format is tabulated alike: the bytes of the further tracks are left out where
    // the reference puts them, and the chunk counts the whole PCM frames it really holds.
    const auto sound = pcmLayout_.between(gap);
    const uint32_t frame = pcmFrameBytes();
    if (sound && sound->length % frame != 0 && !pcmLayout_.fits(gap)) {
      // Damage inside: the sound after it keeps the frames of the video chunk it ends at. Where
      // the damage shows as zeros, the region is taken as two chunks that meet in them.
      const uint64_t start = end + sound->offset;
      if (auto zeros = longestZeroRun(handle, start, sound->length)) {
        const uint64_t tail = (start + sound->length - zeros->first) / frame * frame;
        const uint64_t head = sound->length - tail;
        addPcmChunk(start, qvr::PcmLayout::Sound{0, head});
        addPcmChunk(start + head, qvr::PcmLayout::Sound{0, tail});
        return;
      }
    }
    addPcmChunk(end, sound);
    return;
  }
  if (audioCodec != 1002 || aacSearches_ == nullptr) return;
  // Searched beside the scan: the chunk's place is held by an empty chunk until its frames come.
  PendingAudioChunk pending;
  if (videoSampleCount != 0 && !leadingRegionSearched_) pending.leadingTicket = submitLeadingRegion();
  pending.ticket = aacSearches_->submit(end, gap, takeDecodedWindow(end));
  pending.chunkIndex = sampleArray.size();
  sampleArray.emplace_back();
  pendingAudio_.push_back(pending);
  // A scan that has run far ahead searches the small regions itself: their searches then go on
  // from the decoders its lone-picture tests leave, which wait only while few searches do. A large
  // region would hold up the scan while the workers run out of regions.
  constexpr size_t kWaitingSearches = 8;
  constexpr uint64_t kSmallRegion = 64u << 10;
  aacSearches_->helpWhileMoreThan(kWaitingSearches, kSmallRegion);
  collectAudioChunks(false);
}

size_t RepairFile::submitLeadingRegion() {
  // The region before the first video chunk yields the same frames whenever it is searched; they
  // are used when no audio has been found before the first gap.
  leadingRegionSearched_ = true;
  const uint64_t first = videoSampleArray.front()->sampleOffset;
  const uint64_t begin = mediaDataBegin_ <= first ? mediaDataBegin_ : 0;
  return aacSearches_->submit(begin, first - begin);
}

uint64_t RepairFile::trailingRegionEnd(uint64_t lastVideoEnd, uint64_t fileSize) const {
  // The media data's header bounds the region unless it says less than the video found (a
  // header written before the recording ended); past it may lie the rest of a movie box.
  return mediaDataEnd_ >= lastVideoEnd ? mediaDataEnd_ : fileSize;
}

void RepairFile::recoverAudioAtTheEdges(uint64_t audioCodec, uint64_t fileSize) {
  if (audioCodec != 1002 || aacSearches_ == nullptr || videoSampleArray.empty()) return;
  PendingAudioChunk pending;
  // A movie of one video chunk has no gap that would have searched the leading region.
  if (videoSampleCount != 0 && !leadingRegionSearched_) pending.leadingTicket = submitLeadingRegion();
  const Sample& last = *videoSampleArray.back();
  const uint64_t end = last.sampleOffset + last.sampleSize;
  const uint64_t limit = trailingRegionEnd(end, fileSize);
  if (end < limit) pending.ticket = aacSearches_->submit(end, limit - end, takeDecodedWindow(end));
  if (!pending.ticket && !pending.leadingTicket) return;
  pending.chunkIndex = sampleArray.size();
  sampleArray.emplace_back();
  pendingAudio_.push_back(pending);
}

void RepairFile::addPcmChunk(uint64_t regionStart, std::optional<qvr::PcmLayout::Sound> sound) {
  if (!sound) return;
  const uint64_t frames = pcmChunkFrames(sound->length, pcmFrameBytes());
  if (frames == 0) return;
  auto sample = Sample::initWithSampleType(kSampleTypePCM, regionStart + sound->offset, sound->length, nullptr);
  ++audioChunkNumber_;
  recordSampleToChunk(audioStsc_, audioChunkNumber_, static_cast<uint32_t>(frames));
  sampleArray.push_back({sample});
  audioSampleArray.push_back(sample);
}

void RepairFile::recoverPcmBefore(uint64_t firstVideoOffset) {
  // Only the media data box's own header tells reliably where the sound can begin: in front of
  // it are the file's other boxes.
  if (mediaDataFound_ && mediaDataBegin_ <= firstVideoOffset)
    addPcmChunk(mediaDataBegin_, pcmLayout_.leading(firstVideoOffset - mediaDataBegin_));
}

void RepairFile::recoverPcmAfter(qvr::ReadHandle& handle, uint64_t fileSize) {
  const Sample& last = *videoSampleArray.back();
  const uint64_t start = last.sampleOffset + last.sampleSize;
  uint64_t end = trailingRegionEnd(start, fileSize);
  if (end <= start) return;
  // Space a recorder reserved and never filled reads as zeros. Sound is not silent to the bit
  // for this long, so a shorter run of zeros is kept.
  constexpr uint64_t kReservedZeros = 64u << 10;
  std::vector<uint8_t> block(kReservedZeros);
  uint64_t nonZeroEnd = end;
  while (nonZeroEnd > start) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(block.size(), nonZeroEnd - start));
    if (handle.readAt(nonZeroEnd - length, block.data(), length) != length) break;
    const auto last = std::find_if(block.rend() - length, block.rend(), [](uint8_t b) { return b != 0; });
    nonZeroEnd -= static_cast<uint64_t>(last - (block.rend() - length));
    if (last != block.rend()) break;
  }
  if (end - nonZeroEnd >= kReservedZeros) {
    const uint32_t frame = pcmFrameBytes();
    end = std::min(end, start + (nonZeroEnd - start + frame - 1) / frame * frame);
  }
  addPcmChunk(start, pcmLayout_.trailing(end - start));
}

void RepairFile::collectAudioChunks(bool all) {
  // Bounds the regions queued while the scan runs ahead. Small gaps come between all the video
  // chunks, so the bound must leave room for the many behind one large damaged region.
  constexpr size_t kMostPending = 1u << 16;
  while (!pendingAudio_.empty() && aacSearches_ != nullptr) {
    const PendingAudioChunk& next = pendingAudio_.front();
    const bool wait = all || pendingAudio_.size() > kMostPending;
    if (!wait && ((next.ticket && !aacSearches_->ready(*next.ticket)) ||
                  (next.leadingTicket && !aacSearches_->ready(*next.leadingTicket)))) {
      return;
    }
    if (next.leadingTicket) {
      leadingSettled_ = true;
      auto leading = aacSearches_->take(*next.leadingTicket);
      if (audioSampleArray.empty() && leading && !leading->empty()) {
        leadingAudio_ = aacChunk(*leading);
        ++audioChunkNumber_;
        recordSampleToChunk(audioStsc_, audioChunkNumber_, static_cast<uint32_t>(leadingAudio_.size()));
        audioSampleArray.insert(audioSampleArray.end(), leadingAudio_.begin(), leadingAudio_.end());
      }
    }
    auto frames = next.ticket ? aacSearches_->take(*next.ticket) : std::nullopt;
    if (frames && !frames->empty()) {
      SampleChunk chunk = aacChunk(*frames);
      ++audioChunkNumber_;
      recordSampleToChunk(audioStsc_, audioChunkNumber_, static_cast<uint32_t>(chunk.size()));
      audioSampleArray.insert(audioSampleArray.end(), chunk.begin(), chunk.end());
      sampleArray[next.chunkIndex] = std::move(chunk);
    }
    pendingAudio_.pop_front();
  }
}

void RepairFile::analyseDataForAVC1AndHVC1InFile(File& file, uint64_t audioCodec) {
  auto handle = qvr::ReadHandle::open(file.filePath);
  const uint64_t S = handle ? handle->size() : 0;
  videoSampleArray.clear();
  audioSampleArray.clear();
  sampleArray.clear();
  videoStsc_.clear();
  audioStsc_.clear();

  const uint8_t prefixLength = static_cast<uint8_t>(healthyFile->AVCOneNaluSizeLength());
  const ReferenceParameterSets sets = referenceParameterSets();
  const bool hevc = healthyFile->videoCodec == 1002;
  if ((hevc && (!sets.vps || !sets.sps265 || !sets.pps265)) || (!hevc && (!sets.sps || !sets.pps))) {
    sendMoveBack();
    return;
  }
  pcmLayout_ = isPcm(audioCodec) ? qvr::PcmLayout(healthyFile->moov->chunkLayout(), pcmFrameBytes()) : qvr::PcmLayout();
  // The file type box and the media data header are no audio, and neither is a movie box left
  // after the media data; without a media data header the whole file is searched.
  const auto media = handle ? mediaDataBefore(*handle, S) : std::nullopt;
  mediaDataFound_ = media.has_value();
  mediaDataBegin_ = media ? media->first : 0;
  mediaDataEnd_ = media ? std::min(media->second, S) : S;
  videoSampleCount = 0;
  videoChunkNumber_ = 0;
  audioChunkNumber_ = 0;
  leadingRegionSearched_ = false;
  aacConfig_.clear();
  if (audioCodec == 1002) {
    std::span<const uint8_t> info = healthyFile->decoderSpecificInfo();
    aacConfig_.assign(info.begin(), info.end());
  }
  maxFrameNum_ = sets.sps ? sets.sps->MaxFrameNum : 0;
  maxPocLsb_ = 0;
  if (sets.sps265 && sets.sps265->log2_max_pic_order_cnt_lsb_minus4 >= 0 &&
      sets.sps265->log2_max_pic_order_cnt_lsb_minus4 <= 12) {
    maxPocLsb_ = 1 << (sets.sps265->log2_max_pic_order_cnt_lsb_minus4 + 4);
  }
  prevPocLsb_ = -1;
  prevRefFrameNum_ = -1;
  largestVideoSample_ = 0;
  sendTask(kTaskLocating);

  pendingAudio_.clear();
  leadingAudio_.clear();
  std::unique_ptr<qvr::AacSearchQueue> searches;
  std::unique_ptr<qvr::AacDecoderStock> decoders;
  if (audioCodec == 1002 && S > 0 && !aacConfig_.empty()) {
    // The reference's timecode, telemetry and frame description chunks that can be told by their
    // bytes keep their places among the frames.
    std::vector<qvr::MetadataSignature> metadata;
    if (auto reference = qvr::ReadHandle::open(healthyFile->filePath))
      metadata = qvr::MetadataSignature::learn(healthyFile->moov->chunkLayout(), *reference);
    searches = std::make_unique<qvr::AacSearchQueue>(file.filePath, aacConfig_, pauseRepairing, stopflag,
                                                     qvr::AacSearchQueue::defaultWorkers(), std::move(metadata));
    decoders = std::make_unique<qvr::AacDecoderStock>(aacConfig_);
  }
  aacSearches_ = searches.get();
  aacDecoders_ = decoders.get();
  leadingSettled_ = false;
  if (!streamOutput_.empty() && S > 0) startWritingBesideScan(streamOutput_, file.filePath);
  struct ForgetQueue {
    RepairFile& job;
    ~ForgetQueue() {
      job.aacSearches_ = nullptr;
      job.aacDecoders_ = nullptr;
      job.pendingAudio_.clear();
      job.decodedWindows_.clear();
    }
  } forgetQueue{*this};

  if (S > 0) {
    qvr::BufferedReader reader(*handle, kScanBufferSize);
    uint64_t offset = 0;
    while (true) {
      if (stopflag) return;
      if (!qvr::pausePoint(pauseRepairing, stopflag)) return;
      sendProgress(static_cast<int32_t>(offset * 100 / S));
      SampleChunk run;
      uint32_t nalCount = 0;
      uint32_t sampleCount = 0;
      int32_t taken = getNaluAtOffset(offset, run, reader, prefixLength, &nalCount, &sampleCount, S, sets);
      if (taken == 1 && acceptSingleUnitRun(run, *handle, S, audioCodec)) taken = 2;
      // Units that hold no picture (an SEI and a parameter set, say) make no chunk: the movie
      // would get a chunk of no samples whose bytes no table entry could reach.
      if (taken >= 2 && sampleCount == 0) taken = 0;
      if (taken < 2) {
        if (stopflag) return;
        if (++offset >= S) break;
        offset = nextPossibleUnit(reader, offset, S, prefixLength);
        if (offset >= S) break;
        continue;
      }
      // A run that breaks the order of the pictures before it may be chance units reaching into
      // the real picture: a run inside its first unit that keeps the order is taken instead. The
      // first run's order is to start afresh (a chance unit in a metadata sample ahead of the
      // first picture took in the picture's first units).
      {
        auto picture = std::find_if(run.begin(), run.end(), [](const auto& s) { return s->firstSlice != nullptr; });
        if (picture != run.end() && !continuesPictures(**picture)) {
          if (auto inside = continuingRunInside(run, reader, prefixLength, S, sets)) {
            offset = *inside;
            continue;
          }
          if (stopflag) return;
        }
      }
      if (videoSampleArray.empty() && isPcm(audioCodec)) recoverPcmBefore(run.front()->sampleOffset);
      if (!videoSampleArray.empty()) recoverAudioBetween(*handle, audioCodec, run.front()->sampleOffset);
      ++videoChunkNumber_;
      videoSampleCount += sampleCount;
      recordSampleToChunk(videoStsc_, videoChunkNumber_, sampleCount);
      noteAcceptedRun(run);
      videoSampleArray.insert(videoSampleArray.end(), run.begin(), run.end());
      const Sample& last = *run.back();
      offset = last.sampleOffset + last.sampleSize;
      sampleArray.push_back(std::move(run));
      writeSettledChunks(false);
      if (offset >= S) break;
    }
  }
  if (stopflag) return;
  recoverAudioAtTheEdges(audioCodec, S);
  if (isPcm(audioCodec) && !videoSampleArray.empty()) recoverPcmAfter(*handle, S);
  if (aacSearches_ != nullptr) {
    collectAudioChunks(true);
    if (stopflag) return;
    writeSettledChunks(true);
    // Places held for regions without frames are dropped; the leading region's chunk goes first.
    std::erase_if(sampleArray, [](const SampleChunk& chunk) { return chunk.empty(); });
    if (!leadingAudio_.empty()) sampleArray.insert(sampleArray.begin(), std::move(leadingAudio_));
    leadingAudio_.clear();
  } else {
    writeSettledChunks(true);
  }
  audioRequest = std::make_unique<AtomCreationRequest>();
  audioRequest->requestType = AtomCreationRequest::kAudioRequest;
  audioRequest->stscEntries = audioStsc_;
  videoRequest = std::make_unique<AtomCreationRequest>();
  videoRequest->requestType = AtomCreationRequest::kVideoRequest;
  videoRequest->stscEntries = videoStsc_;
}
