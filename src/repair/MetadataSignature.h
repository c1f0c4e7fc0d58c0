#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "boxes/Moov.h"

namespace qvr {

class ReadHandle;

// What the chunks of a further track (frame descriptions, telemetry) have alike in their first
// bytes, learnt from the reference: where such a chunk lies among the sound, its bytes belong to
// no audio frame, and its ends are where frames end and begin.
struct MetadataSignature {
  static constexpr size_t kLength = 16;

  uint64_t size = 0;    // the chunks' length; 0 when it varies, and only where one starts is known
  size_t compared = 0;  // leading bytes that are compared, at most kLength
  uint8_t bytes[kLength] = {};
  bool fixed[kLength] = {};  // the bytes every chunk had alike

  bool matches(const uint8_t* at, size_t available) const;

  // The signatures of the other tracks' chunks in `chunks` (the reference's layout), whose bytes
  // are read from `reference`. A track gives one for each length most of its chunks share, and
  // one for its chunks' starts when their lengths vary; only when enough chunks agree on enough
  // bytes that sound would not pass for them.
  static std::vector<MetadataSignature> learn(const std::vector<Moov::ChunkPlace>& chunks, ReadHandle& reference);
};

}  // namespace qvr
