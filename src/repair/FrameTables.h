#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qvr {

// What the per-frame tables need to know about one video sample of the repaired movie (one entry
// of its sample size table), in decoding order.
struct PictureInfo {
  bool isPicture = false;         // the sample holds a coded picture (not only parameter sets)
  bool isSync = false;            // IDR (H.264 type 5) or IRAP (H.265 types 16 to 23)
  bool resetsOrder = false;       // display order restarts here (IDR; H.265 IDR and BLA)
  bool isIntra = false;           // an I (or SI) picture
  bool isDisposable = false;      // no other picture refers to it
  bool isReference = false;       // its order count becomes the base of the next one's
  std::optional<int32_t> pocLsb;  // pic_order_cnt_lsb; none when it could not be read
};

// The tables rebuilt from the recovered pictures.
struct FrameTables {
  std::vector<uint32_t> syncSamples;  // 1-based sample numbers
  // One composition offset per sample and the edit's media time, when every picture's display
  // position could be derived.
  std::optional<std::vector<uint32_t>> compositionOffsets;
  std::optional<uint32_t> editMediaTime;
  std::vector<uint8_t> sdtp;  // one dependency byte per sample
};

// Derives the tables. `maxPocLsb` is MaxPicOrderCntLsb of the stream (0 when unknown: no display
// order is derived); `sampleDuration` is the constant duration of one sample in media units.
FrameTables deriveFrameTables(const std::vector<PictureInfo>& pictures, uint32_t maxPocLsb, uint32_t sampleDuration);

// The sample dependency byte: "does not depend on others" for I pictures, "not depended on" for
// disposable ones, "depends"/"depended on" otherwise.
uint8_t dependencyByte(const PictureInfo& picture);

}  // namespace qvr
