#pragma once

#include <cstdint>
#include <memory>

class NALU;

// One recovered sample: where its bytes lie in the damaged file and what kind it is.
class Sample {
 public:
  Sample(uint64_t sampleType, uint64_t sampleOffsetInFile, uint64_t sizeOfTheSample, std::shared_ptr<NALU> nalu)
      : sampleOffset(sampleOffsetInFile), sampleSize(sizeOfTheSample), sampleType(sampleType), nal(std::move(nalu)) {}

  static std::shared_ptr<Sample> initWithSampleType(uint64_t sampleType, uint64_t sampleOffsetInFile,
                                                    uint64_t sizeOfTheSample, std::shared_ptr<NALU> nalu) {
    return std::make_shared<Sample>(sampleType, sampleOffsetInFile, sizeOfTheSample, std::move(nalu));
  }

  uint64_t sampleOffset = 0;
  uint64_t sampleSize = 0;
  uint64_t sampleType = 0;
  // The sample's first NAL unit (video only).
  std::shared_ptr<NALU> nal;
  // The first slice of the picture when the sample holds one; it differs from `nal` when parameter
  // sets open the sample (H.265). The per-frame tables of the repaired movie are derived from it.
  std::shared_ptr<NALU> firstSlice;
  // An H.264 sample that holds both fields of its frame: no further field joins it.
  bool bothFields = false;
};

inline constexpr uint64_t kSampleTypeH264 = 0;
inline constexpr uint64_t kSampleTypeH265 = 1;
inline constexpr uint64_t kSampleTypeAAC = 2;
inline constexpr uint64_t kSampleTypePCM = 3;
