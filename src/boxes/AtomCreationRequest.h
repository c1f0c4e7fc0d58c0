#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "boxes/SampleToChunkEntery.h"

namespace qvr {
// One run of composition offsets: `sampleCount` consecutive samples whose presentation time is
// `compositionOffset` media units after their decoding time.
struct CompositionOffsetRun {
  uint32_t sampleCount = 0;
  uint32_t compositionOffset = 0;
};
}  // namespace qvr

// What the repair engine found for one track, handed to movie box synthesis.
class AtomCreationRequest {
 public:
  static constexpr uint64_t kVideoRequest = 2;
  static constexpr uint64_t kAudioRequest = 1;

  uint64_t requestType = 0;                      // 2 video, 1 audio
  uint32_t timeScale = 0;                        // media time scale of the reference track
  double FPS = 0.0;                              // samples per second of the reference track
  std::vector<uint64_t> stcoEntries;             // absolute offset of every chunk, file order
  std::vector<uint32_t> stszEntries;             // size of every sample, decoding order
  std::vector<SampleToChunkEntery> stscEntries;  // sample-to-chunk runs

  // Optional tables the engine can derive from the recovered frames themselves. When present
  // they replace the patterns that synthesis would otherwise extrapolate from the reference
  // (video requests only; ignored for audio).
  // 1-based numbers of the sync samples (IDR frames), written exactly as given (an empty list
  // gives an empty sync sample box). Absent: the reference's pattern.
  std::optional<std::vector<uint32_t>> syncSamples;
  // Composition offset runs covering the samples in decoding order. Absent or empty: the
  // reference's table when it has at least two entries, else none.
  std::optional<std::vector<qvr::CompositionOffsetRun>> compositionOffsets;
  // One sample-dependency byte per sample, written whenever present and not empty (repeated or
  // cut to the sample count). Absent: the reference's bytes repeated, when it has any.
  std::optional<std::vector<uint8_t>> sdtpData;
  // Media time at which the single edit of the video track starts (the first presented
  // sample's composition time). Absent: the duration of one sample.
  std::optional<uint32_t> editMediaTime;
};
