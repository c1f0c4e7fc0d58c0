#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "boxes/Trak.h"

namespace qvr {
class WriteHandle;
}
class AtomCreationRequest;
class Mvhd;
class Udta;

// Sound codes of uncompressed formats ("sowt", "twos", and "lpcm" with the other fixed-size
// formats), whose chunks are counted in whole frames.
inline bool isUncompressedAudio(int64_t codec) { return codec == 1003 || codec == 1004 || codec == 1006; }

// Movie box ("moov"): the parsed tree of a reference movie, and the movie box synthesised for a
// repaired file. The movie header is shared between the two.
class Moov {
 public:
  Moov();
  ~Moov();
  // None when the bytes are absent or any track fails to parse.
  static std::unique_ptr<Moov> initMOOVWithData(const uint8_t* data, uint32_t size);
  bool readBytes(const uint8_t* bytes, uint32_t size);

  // The movie box of a repaired file built from this reference tree and the engine's two
  // requests; none when the reference has no tracks. Sets durations on the shared movie and
  // track headers, so a reference tree serves one synthesis only.
  std::unique_ptr<Moov> createMoovWithVideoRequest(const AtomCreationRequest& videoRequest,
                                                   const AtomCreationRequest& andAudioRequest);
  // The whole serialised movie box (header, movie header, tracks).
  std::vector<uint8_t> convertSelfToData() const;
  // Appends the serialised movie box to the file; false when a write failed.
  bool writeToFileHandle(qvr::WriteHandle& handle) const;

  Trak* getTrakWithType(int64_t trackType) const;
  int64_t getVideoCodecFormat() const;  // 1001 H.264, 1002 H.265, else 0
  // 1002 AAC, 1003 "sowt", 1004 "twos", 1006 other uncompressed sound, else 0
  int64_t getAudioCodecFormat() const;
  qvr::SampleEntryRef getTrackDecoderWith(int64_t trackType) const;
  double videoTrackFPS() const;
  double audioTrackFPS() const;
  uint32_t videoTrackTimeScale() const;
  uint32_t audioTrackTimeScale() const;
  uint32_t getOneSampleDurationOfTackType(int64_t trackType) const;
  int32_t getAVCOneNALUSizeLength() const;
  qvr::ParameterSetRef SPS() const;
  qvr::ParameterSetRef PPS() const;
  qvr::ParameterSetRef VPS() const;
  std::string getResolution() const;  // "Missing" without a video track
  uint32_t getAverageAudioSize() const;
  uint32_t getMaxAudioSize() const;
  // The AudioSpecificConfig bytes (a view into the tree; empty when there are none).
  std::span<const uint8_t> decodeSpecificInfo() const;
  uint32_t aacSampleMean() const;
  uint32_t duration() const;
  // A chunk where the sample tables place it. `track` says whose: 1 the first video track, 2 the
  // first sound track, 0 any other; `trackIndex` tells the other tracks apart (their place in
  // the movie box).
  struct ChunkPlace {
    uint64_t offset = 0;
    uint64_t size = 0;
    int64_t track = 0;
    size_t trackIndex = 0;
  };
  // Every track's chunks in file order. Chunks of uncompressed sound are as long as their frames.
  std::vector<ChunkPlace> chunkLayout() const;

  uint32_t size = 0;
  uint32_t type = 0;
  std::shared_ptr<Mvhd> mvhd;
  std::shared_ptr<Udta> udta;
  std::vector<std::unique_ptr<Trak>> tracks;
};
