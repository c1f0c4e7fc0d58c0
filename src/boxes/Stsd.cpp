#include "boxes/Stsd.h"

#include <algorithm>
#include <iterator>

#include "bitstream/PPS.h"
#include "bitstream/SPS.h"
#include "boxes/AVCDecoderConfigurationRecord.h"
#include "boxes/AudioSampleDescriptionEntery.h"
#include "boxes/ByteStream.h"
#include "boxes/DecoderSpecifiInfoWrapper.h"
#include "boxes/HVCDecoderConfigurationRecord.h"
#include "boxes/VideoSampleDescriptionEntery.h"

namespace {
constexpr uint32_t kAvc1 = 0x61766331;  // "avc1"
constexpr uint32_t kHvc1 = 0x68766331;  // "hvc1"
constexpr uint32_t kMp4a = 0x6D703461;  // "mp4a"
constexpr uint32_t kSowt = 0x736F7774;  // "sowt"
constexpr uint32_t kTwos = 0x74776F73;  // "twos"
constexpr int64_t kCodecAvc1 = 1001;
constexpr int64_t kCodecMp4a = 1002;
constexpr int64_t kCodecSowt = 1003;
constexpr int64_t kCodecTwos = 1004;
constexpr int64_t kCodecHvc1 = 1005;
constexpr int64_t kCodecOtherPcm = 1006;
// Uncompressed sound that is neither 16-bit "sowt" nor "twos": counted in whole frames alike.
constexpr uint32_t kOtherPcm[] = {0x6C70636D, 0x696E3234, 0x696E3332, 0x666C3332,
                                  0x666C3634};  // "lpcm", "in24", "in32", "fl32", "fl64"
bool isOtherPcm(uint32_t t) { return std::find(std::begin(kOtherPcm), std::end(kOtherPcm), t) != std::end(kOtherPcm); }
constexpr uint32_t kFirstEntry = 16;
}  // namespace

std::unique_ptr<Stsd> Stsd::initSTSDWithBytes(const uint8_t* bytes, uint32_t size) {
  auto box = std::make_unique<Stsd>();
  if (bytes) box->readBytes(bytes, size);
  return box;
}

void Stsd::readBytes(const uint8_t* bytes, uint32_t size) {
  stsdData.assign(bytes, bytes + size);
  ByteStream in(bytes, size);
  this->size = in.readUI32();
  type = in.readUI32();
  version_Flag = in.readUI32();
  numberOfEntries = in.readUI32();

  uint32_t p = kFirstEntry;
  // An entry that is not recognised or does not fit ends the reading: the entries after it
  // cannot be located with any confidence.
  for (uint32_t i = 0; i < numberOfEntries; ++i) {
    if (uint64_t(p) + 8 > size) break;
    ByteStream header(bytes + p, size - p);
    uint32_t s = header.readUI32();
    uint32_t t = header.readUI32();
    if (s < 8 || s > size - p) break;
    if (t == kAvc1 || t == kHvc1) {
      sampleDescriptionTable.push_back(VideoSampleDescriptionEntery::initVSDEnteryWithBytes(bytes + p, s));
      codecFormat = t == kAvc1 ? kCodecAvc1 : kCodecHvc1;
    } else if (t == kMp4a || t == kSowt || t == kTwos || isOtherPcm(t)) {
      sampleDescriptionTable.push_back(AudioSampleDescriptionEntery::initASDEnteryWithBytes(bytes + p, s));
      codecFormat = t == kMp4a ? kCodecMp4a : t == kSowt ? kCodecSowt : t == kTwos ? kCodecTwos : kCodecOtherPcm;
    } else {
      break;
    }
    p += s;
  }
}

namespace {
const VideoSampleDescriptionEntery* firstVideo(const std::vector<qvr::SampleEntryRef>& table) {
  return table.empty() || !table.front() ? nullptr : table.front()->asVideo();
}
const AudioSampleDescriptionEntery* firstAudio(const std::vector<qvr::SampleEntryRef>& table) {
  return table.empty() || !table.front() ? nullptr : table.front()->asAudio();
}
}  // namespace

qvr::SampleEntryRef Stsd::getDecoder() const {
  return sampleDescriptionTable.empty() ? nullptr : sampleDescriptionTable.front();
}

uint32_t Stsd::getAvgAudioBitRate() const {
  const AudioSampleDescriptionEntery* entry = codecFormat == kCodecMp4a ? firstAudio(sampleDescriptionTable) : nullptr;
  return entry ? entry->getAvgAudioBitRate() : 0;
}

uint32_t Stsd::getMaxAudioBitRate() const {
  const AudioSampleDescriptionEntery* entry = codecFormat == kCodecMp4a ? firstAudio(sampleDescriptionTable) : nullptr;
  return entry ? entry->getMaxAudioBitRate() : 0;
}

int32_t Stsd::avc1NaluSizeLength() const {
  if (codecFormat != kCodecAvc1 && codecFormat != kCodecHvc1) return 0;
  const VideoSampleDescriptionEntery* entry = firstVideo(sampleDescriptionTable);
  return entry ? entry->lengthSizeMinusOne() + 1 : 0;
}

std::shared_ptr<::SPS> Stsd::avcSPS() const {
  const VideoSampleDescriptionEntery* entry = codecFormat == kCodecAvc1 ? firstVideo(sampleDescriptionTable) : nullptr;
  return entry && entry->avcC() ? entry->avcC()->sps : nullptr;
}

std::shared_ptr<::PPS> Stsd::avcPPS() const {
  const VideoSampleDescriptionEntery* entry = codecFormat == kCodecAvc1 ? firstVideo(sampleDescriptionTable) : nullptr;
  return entry && entry->avcC() ? entry->avcC()->pps : nullptr;
}

std::shared_ptr<VPS_265> Stsd::hevcVPS() const {
  const VideoSampleDescriptionEntery* entry = codecFormat == kCodecHvc1 ? firstVideo(sampleDescriptionTable) : nullptr;
  return entry && entry->hvcC() ? entry->hvcC()->vps : nullptr;
}

std::shared_ptr<SPS_265> Stsd::hevcSPS() const {
  const VideoSampleDescriptionEntery* entry = codecFormat == kCodecHvc1 ? firstVideo(sampleDescriptionTable) : nullptr;
  return entry && entry->hvcC() ? entry->hvcC()->sps : nullptr;
}

std::shared_ptr<PPS_265> Stsd::hevcPPS() const {
  const VideoSampleDescriptionEntery* entry = codecFormat == kCodecHvc1 ? firstVideo(sampleDescriptionTable) : nullptr;
  return entry && entry->hvcC() ? entry->hvcC()->pps : nullptr;
}

qvr::ParameterSetRef Stsd::hevcParameterSet(uint8_t nalUnitType) const {
  const VideoSampleDescriptionEntery* entry = codecFormat == kCodecHvc1 ? firstVideo(sampleDescriptionTable) : nullptr;
  return entry && entry->hvcC() ? entry->hvcC()->parameterSetOfType(nalUnitType) : nullptr;
}

qvr::ParameterSetRef Stsd::SPS() const {
  if (codecFormat == kCodecAvc1) return avcSPS();
  if (codecFormat == kCodecHvc1) return hevcParameterSet(33);
  return nullptr;
}

qvr::ParameterSetRef Stsd::PPS() const {
  if (codecFormat == kCodecAvc1) return avcPPS();
  if (codecFormat == kCodecHvc1) return hevcParameterSet(34);
  return nullptr;
}

qvr::ParameterSetRef Stsd::VPS() const { return codecFormat == kCodecHvc1 ? hevcParameterSet(32) : nullptr; }

std::unique_ptr<DecoderSpecifiInfoWrapper> Stsd::decoderSpecificInfo() const {
  const AudioSampleDescriptionEntery* entry = codecFormat == kCodecMp4a ? firstAudio(sampleDescriptionTable) : nullptr;
  if (!entry || entry->decoderSpecificInfo().empty()) return nullptr;
  return std::make_unique<DecoderSpecifiInfoWrapper>(entry->decoderSpecificInfo());
}

std::string Stsd::getResolution() const {
  const VideoSampleDescriptionEntery* entry = firstVideo(sampleDescriptionTable);
  return entry ? entry->getResolution() : "Missing";
}
