#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "boxes/StsdDecoder.h"

class SPS;
class PPS;
class VPS_265;
class SPS_265;
class PPS_265;
class DecoderSpecifiInfoWrapper;

// Sample description box ("stsd"): the codec of a track and its configuration. Never
// re-serialised from its fields: a synthesised movie box writes `stsdData`, the bytes as read.
// A parsed Stsd is held as std::shared_ptr because a synthesised sample table reuses it.
class Stsd {
 public:
  // Copies the bytes into `stsdData` and parses them. A null buffer gives an empty object.
  static std::unique_ptr<Stsd> initSTSDWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  // Every getter answers from the first entry of `sampleDescriptionTable`.
  qvr::SampleEntryRef getDecoder() const;  // null without entries
  uint32_t getAvgAudioBitRate() const;     // codec 1002 only, else 0
  uint32_t getMaxAudioBitRate() const;     // codec 1002 only, else 0
  // NAL length-prefix size in bytes for codecs 1001 and 1005 (always 4 for "hvc1"), else 0.
  int32_t avc1NaluSizeLength() const;
  // Typed parameter sets of the first entry's configuration record (null when not that codec).
  std::shared_ptr<::SPS> avcSPS() const;
  std::shared_ptr<::PPS> avcPPS() const;
  std::shared_ptr<VPS_265> hevcVPS() const;
  std::shared_ptr<SPS_265> hevcSPS() const;
  std::shared_ptr<PPS_265> hevcPPS() const;
  // The same, untyped: ::SPS / ::PPS for codec 1001, SPS_265 / PPS_265 for 1005; VPS for 1005 only.
  qvr::ParameterSetRef SPS() const;
  qvr::ParameterSetRef PPS() const;
  qvr::ParameterSetRef VPS() const;
  // Codec 1002 with a decoder-specific information payload only, else null. The wrapper views
  // bytes owned by this Stsd's entry and must not outlive it.
  std::unique_ptr<DecoderSpecifiInfoWrapper> decoderSpecificInfo() const;
  // "%dx%d" of the first entry when it is a video entry, else "Missing".
  std::string getResolution() const;

  uint32_t size = 0;
  uint32_t type = 0;
  uint32_t version_Flag = 0;
  uint32_t numberOfEntries = 0;
  std::vector<qvr::SampleEntryRef> sampleDescriptionTable;
  std::vector<uint8_t> stsdData;
  int64_t codecFormat = 0;  // 1001 avc1, 1002 mp4a, 1003 sowt, 1004 twos, 1005 hvc1, 1006 other PCM

 private:
  qvr::ParameterSetRef hevcParameterSet(uint8_t nalUnitType) const;
};
