#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "boxes/StsdDecoder.h"

class AtomCreationRequest;
class Tkhd;
class Mdia;
class Edts;
class Udta;
class Stbl;
class Stsd;

// Track box ("trak"). Invalid (none) without a media box. The track header is shared: a
// synthesised track reuses the reference's header object and sets its duration.
class Trak {
 public:
  Trak();
  ~Trak();
  static std::unique_ptr<Trak> initTRAKWithBytes(const uint8_t* bytes, uint32_t size);
  void readBytes(const uint8_t* bytes, uint32_t size);

  // A new track for the repaired file built on this (reference) track.
  std::unique_ptr<Trak> createTrackWithRequest(const AtomCreationRequest& request) const;
  // Sets the track (header) duration in movie time, adds the edit box of a video track and
  // serialises the track.
  void setDuration(uint32_t duration);
  void createWriteableData();

  // Derived fields, recomputed after parsing and after every change of a synthesised track.
  void initProperties();

  int64_t getTrackType() const;  // 1 video, 2 audio, -1 other
  uint32_t getTimeScale() const;
  uint32_t getSampleSize() const;
  uint32_t getSamplePerChunk() const;
  std::string getResolution() const;
  // Links of the chain track > media > media information > sample table, or null when one is
  // missing.
  const Stbl* stbl() const;
  const Stsd* stsd() const;

  uint32_t size = 0;
  uint32_t type = 0;
  std::shared_ptr<Tkhd> tkhd;
  std::unique_ptr<Mdia> mdia;
  std::unique_ptr<Edts> edts;
  std::shared_ptr<Udta> udta;

  int64_t trackType = 0;
  int64_t trackCodecFormat = 0;
  qvr::SampleEntryRef trackDecoder;  // first sample description entry, or none
  uint32_t trakMediaTimeScale = 0;
  uint32_t trakMediaDuration = 0;
  uint32_t sampleCount = 0;
  uint32_t oneSampleDuration = 0;
  uint32_t trackDuration = 0;
  double trakFPS = 0.0;

  // Media time of the video edit, taken from the request a synthesised track was built with
  // (none: the duration of one sample).
  std::optional<uint32_t> editMediaTime;

  std::vector<uint8_t> writeableData;
};
