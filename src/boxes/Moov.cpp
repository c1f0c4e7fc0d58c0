#include "boxes/Moov.h"

#include <algorithm>
#include <cmath>

#include "boxes/AtomCreationRequest.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/BoxArithmetic.h"
#include "boxes/ByteStream.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/Mdhd.h"
#include "boxes/Mdia.h"
#include "boxes/Mvhd.h"
#include "boxes/Stbl.h"
#include "boxes/Stco.h"
#include "boxes/Stsc.h"
#include "boxes/Stsd.h"
#include "boxes/Stsz.h"
#include "boxes/Udta.h"
#include "foundation/FileHandle.h"

using qvr::fourCC;

namespace {
constexpr int64_t kVideo = 1;
constexpr int64_t kAudio = 2;
constexpr int64_t kAvc1 = 1001;
constexpr int64_t kMp4a = 1002;
constexpr int64_t kHvc1 = 1005;

bool isAvcOrHevc(const Trak* track) {
  return track && (track->trackCodecFormat == kAvc1 || track->trackCodecFormat == kHvc1);
}
}  // namespace

Moov::Moov() = default;
Moov::~Moov() = default;

std::unique_ptr<Moov> Moov::initMOOVWithData(const uint8_t* data, uint32_t size) {
  if (!data) return nullptr;
  auto box = std::make_unique<Moov>();
  if (!box->readBytes(data, size)) return nullptr;
  return box;
}

bool Moov::readBytes(const uint8_t* bytes, uint32_t boxSize) {
  if (!bytes || boxSize < 8) return false;
  size = qvr::readBE32(bytes);
  type = qvr::readBE32(bytes + 4);
  const uint64_t end = std::min(size, boxSize);
  if (size < 17) return true;
  for (uint64_t p = 8; p + 8 < end;) {
    const auto [s, t] = qvr::childHeaderAt(bytes, p);
    if (s < 8 || p + s > end) {
      ++p;
      continue;
    }
    switch (t) {
      case fourCC("mvhd"):
        mvhd = Mvhd::initMVHDWithBytes(bytes + p, s);
        break;
      case fourCC("trak"): {
        auto track = Trak::initTRAKWithBytes(bytes + p, s);
        // A broken track would leave the engine guessing which track is which: no movie box.
        if (!track) return false;
        if (track->udta) udta = track->udta;
        tracks.push_back(std::move(track));
        break;
      }
      case fourCC("udta"):
        udta = Udta::initUDTAWithBytes(bytes + p, s);
        break;
      case fourCC("uuid"):
        break;  // crossed by its size
      default:
        ++p;
        continue;
    }
    p += s;
  }
  return true;
}

Trak* Moov::getTrakWithType(int64_t trackType) const {
  for (const auto& track : tracks)
    if (track->trackType == trackType) return track.get();
  return nullptr;
}

int64_t Moov::getVideoCodecFormat() const {
  const Trak* video = getTrakWithType(kVideo);
  if (!video) return 0;
  if (video->trackCodecFormat == kAvc1) return 1001;
  if (video->trackCodecFormat == kHvc1) return 1002;
  return 0;
}

int64_t Moov::getAudioCodecFormat() const {
  const Trak* audio = getTrakWithType(kAudio);
  if (!audio) return 0;
  const int64_t code = audio->trackCodecFormat;
  return code == 1002 || isUncompressedAudio(code) ? code : 0;
}

qvr::SampleEntryRef Moov::getTrackDecoderWith(int64_t trackType) const {
  const Trak* track = getTrakWithType(trackType);
  return track ? track->trackDecoder : nullptr;
}

double Moov::videoTrackFPS() const {
  const Trak* track = getTrakWithType(kVideo);
  return track ? track->trakFPS : 0.0;
}

double Moov::audioTrackFPS() const {
  const Trak* track = getTrakWithType(kAudio);
  return track ? track->trakFPS : 0.0;
}

uint32_t Moov::videoTrackTimeScale() const {
  const Trak* track = getTrakWithType(kVideo);
  return track ? track->trakMediaTimeScale : 0;
}

uint32_t Moov::audioTrackTimeScale() const {
  const Trak* track = getTrakWithType(kAudio);
  return track ? track->trakMediaTimeScale : 0;
}

uint32_t Moov::getOneSampleDurationOfTackType(int64_t trackType) const {
  const Trak* track = getTrakWithType(trackType);
  return track ? track->oneSampleDuration : 0;
}

int32_t Moov::getAVCOneNALUSizeLength() const {
  const Trak* video = getTrakWithType(kVideo);
  if (!isAvcOrHevc(video) || !video->stsd()) return 0;
  return video->stsd()->avc1NaluSizeLength();
}

qvr::ParameterSetRef Moov::SPS() const {
  const Trak* video = getTrakWithType(kVideo);
  if (!isAvcOrHevc(video) || !video->stsd()) return nullptr;
  return video->stsd()->SPS();
}

qvr::ParameterSetRef Moov::PPS() const {
  const Trak* video = getTrakWithType(kVideo);
  if (!isAvcOrHevc(video) || !video->stsd()) return nullptr;
  return video->stsd()->PPS();
}

qvr::ParameterSetRef Moov::VPS() const {
  const Trak* video = getTrakWithType(kVideo);
  if (!video || video->trackCodecFormat != kHvc1 || !video->stsd()) return nullptr;
  return video->stsd()->VPS();
}

std::string Moov::getResolution() const {
  const Trak* video = getTrakWithType(kVideo);
  return video ? video->getResolution() : "Missing";
}

namespace {
// Bytes of one AAC frame at the given bit rate: bits per second / media units per second
// x media units per frame / 8.
uint32_t aacFrameBytes(uint32_t bitRate, const Trak& audio) {
  return qvr::truncateToUInt32(static_cast<double>(bitRate) / audio.trakMediaTimeScale * audio.oneSampleDuration *
                               0.125);
}
}  // namespace

uint32_t Moov::getAverageAudioSize() const {
  const Trak* audio = getTrakWithType(kAudio);
  if (!audio || audio->trackCodecFormat != kMp4a || !audio->stsd()) return 0;
  return aacFrameBytes(audio->stsd()->getAvgAudioBitRate(), *audio);
}

uint32_t Moov::getMaxAudioSize() const {
  const Trak* audio = getTrakWithType(kAudio);
  if (!audio || audio->trackCodecFormat != kMp4a || !audio->stsd()) return 0;
  return aacFrameBytes(audio->stsd()->getMaxAudioBitRate(), *audio);
}

std::span<const uint8_t> Moov::decodeSpecificInfo() const {
  const Trak* audio = getTrakWithType(kAudio);
  if (!audio || audio->trackCodecFormat != kMp4a || !audio->stsd()) return {};
  auto wrapper = audio->stsd()->decoderSpecificInfo();
  return wrapper ? wrapper->decoderSpecificInfo : std::span<const uint8_t>();
}

uint32_t Moov::aacSampleMean() const {
  const Trak* audio = getTrakWithType(kAudio);
  if (!audio || audio->trackCodecFormat != kMp4a) return 0;
  return audio->getSampleSize();
}

uint32_t Moov::duration() const { return mvhd ? static_cast<uint32_t>(mvhd->duration) : 0; }

std::vector<Moov::ChunkPlace> Moov::chunkLayout() const {
  std::vector<ChunkPlace> chunks;
  const Trak* video = getTrakWithType(kVideo);
  const Trak* audio = getTrakWithType(kAudio);
  for (size_t index = 0; index < tracks.size(); ++index) {
    const auto& track = tracks[index];
    const Stbl* table = track->stbl();
    if (!table || !table->stco || !table->stsc || !table->stsz) continue;
    const int64_t role = track.get() == video ? kVideo : track.get() == audio ? kAudio : 0;
    uint32_t frameBytes = 0;
    const int64_t codec = track->trackCodecFormat;
    if (role == kAudio && isUncompressedAudio(codec) && track->trackDecoder && track->trackDecoder->asAudio()) {
      frameBytes = track->trackDecoder->asAudio()->pcmFrameBytes();
    }
    const auto& runs = table->stsc->SampleToChunkTable;
    const auto& sizes = table->stsz->SampleSizeTable;
    const uint32_t constant = table->stsz->sampleSize;
    size_t sample = 0;
    size_t run = 0;
    const auto& offsets = table->stco->chunkOffsetTable;
    for (size_t c = 0; c < offsets.size(); ++c) {
      while (run + 1 < runs.size() && runs[run + 1].firstChunk <= c + 1) ++run;
      const uint64_t count = runs.empty() ? 0 : runs[run].samplesPerChunk;
      uint64_t bytes = 0;
      if (frameBytes > 0) {
        bytes = count * frameBytes;
      } else if (constant > 0) {
        bytes = count * constant;
      } else {
        const size_t end = static_cast<size_t>(std::min<uint64_t>(sample + count, sizes.size()));
        for (size_t i = sample; i < end; ++i) bytes += sizes[i];
      }
      sample = static_cast<size_t>(std::min<uint64_t>(sample + count, SIZE_MAX));
      chunks.push_back({offsets[c], bytes, role, index});
    }
  }
  std::stable_sort(chunks.begin(), chunks.end(),
                   [](const ChunkPlace& a, const ChunkPlace& b) { return a.offset < b.offset; });
  return chunks;
}

namespace {
// A new track's length in the movie's time scale: its samples at the reference's rate. A
// reference track with a duration but no samples has a rate of 0, which would make every length
// infinite (and the movie 4294967295 units long); the new media header's duration, taken from
// the new time-to-sample table, is the length then.
uint32_t trackDuration(const Trak& track, double fps, double movieTimeScale) {
  if (std::isfinite(fps) && fps > 0) return qvr::truncateToUInt32(track.sampleCount / fps * movieTimeScale);
  const Mdhd* media = track.mdia ? track.mdia->mdhd.get() : nullptr;
  if (!media || media->timescale == 0) return 0;
  return qvr::truncateToUInt32(static_cast<double>(media->duration) / media->timescale * movieTimeScale);
}
}  // namespace

std::unique_ptr<Moov> Moov::createMoovWithVideoRequest(const AtomCreationRequest& videoRequest,
                                                       const AtomCreationRequest& andAudioRequest) {
  // Without a movie header there is no movie time scale to express durations in.
  if (tracks.empty() || !mvhd) return nullptr;
  auto n = std::make_unique<Moov>();
  n->type = type;
  n->mvhd = mvhd;

  const double videoFPS = videoTrackFPS();
  const double audioFPS = audioTrackFPS();
  const double movieTimeScale = mvhd->timescale;
  bool videoBuilt = false;
  bool audioBuilt = false;
  uint32_t audioDuration = 0;
  for (const auto& reference : tracks) {
    std::unique_ptr<Trak> track;
    uint32_t duration = 0;
    // One request describes the samples of one track. A second track of the same type (the
    // still picture of a motion photo, a commentary sound) has its own sample description, so
    // pointing it at these samples would only add a track that cannot be decoded.
    if (reference->trackType == kVideo && !videoBuilt) {
      track = reference->createTrackWithRequest(videoRequest);
      duration = trackDuration(*track, videoFPS, movieTimeScale);
      mvhd->setDuration(duration);
      videoBuilt = true;
    } else if (reference->trackType == kAudio && !audioBuilt) {
      track = reference->createTrackWithRequest(andAudioRequest);
      duration = trackDuration(*track, audioFPS, movieTimeScale);
      audioDuration = duration;
      audioBuilt = true;
    } else {
      continue;  // timecode, metadata, further tracks of a type already rebuilt
    }
    track->setDuration(duration);
    n->tracks.push_back(std::move(track));
  }
  // A movie without video still needs a complete header: it lasts as long as its sound.
  if (!videoBuilt) mvhd->setDuration(audioDuration);

  uint64_t total = 8 + mvhd->writeableData.size();
  for (const auto& track : n->tracks) total += track->writeableData.size();
  n->size = static_cast<uint32_t>(total);
  return n;
}

std::vector<uint8_t> Moov::convertSelfToData() const {
  ByteStream s;
  s.writeUI32(size);
  s.writeUI32(type);
  if (mvhd) {
    if (mvhd->writeableData.empty()) mvhd->createWriteableData();
    s.writeBytes(mvhd->writeableData);
  }
  for (const auto& track : tracks) s.writeBytes(track->writeableData);
  // A parsed tree that was never synthesised may carry a different declared size.
  s.patchUI32(0, static_cast<uint32_t>(s.data().size()));
  return s.take();
}

bool Moov::writeToFileHandle(qvr::WriteHandle& handle) const {
  ByteStream head;
  uint64_t total = 8;
  if (mvhd) {
    if (mvhd->writeableData.empty()) mvhd->createWriteableData();
    total += mvhd->writeableData.size();
  }
  for (const auto& track : tracks) total += track->writeableData.size();
  head.writeUI32(static_cast<uint32_t>(total));
  head.writeUI32(type);
  if (mvhd) head.writeBytes(mvhd->writeableData);
  bool ok = handle.write(head.data());
  for (const auto& track : tracks) ok = handle.write(track->writeableData) && ok;
  return ok && !handle.failed();
}
