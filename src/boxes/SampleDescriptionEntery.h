#pragma once

#include <cstdint>

class VideoSampleDescriptionEntery;
class AudioSampleDescriptionEntery;

// What every sample entry of a sample description starts with; the video and audio entries
// derive from it. `dataFormat` is the entry type as a big-endian four-character code.
class SampleDescriptionEntery {
 public:
  virtual ~SampleDescriptionEntery() = default;

  // Null when the entry is of the other kind.
  virtual const VideoSampleDescriptionEntery* asVideo() const { return nullptr; }
  virtual const AudioSampleDescriptionEntery* asAudio() const { return nullptr; }

  uint32_t size = 0;
  uint32_t dataFormat = 0;
  uint32_t reserved1 = 0;
  uint16_t reserved2 = 0;
  uint16_t dataReferenceIndex = 0;
  uint16_t version = 0;
  uint16_t revisionLevel = 0;
  uint32_t vendor = 0;
};
