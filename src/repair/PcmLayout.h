#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "boxes/Moov.h"

namespace qvr {

// Where uncompressed sound lies among the other tracks' bytes. A region between two video chunks
// (or before the first, after the last) may hold, besides the sound chunk, chunks of further
// tracks (a timecode sample, metadata) before or after it; the reference's tables tell how many
// bytes and on which side, and how long its sound chunks are.
class PcmLayout {
 public:
  // The sound of a region: `offset` bytes from its start, `length` bytes long.
  struct Sound {
    uint64_t offset = 0;
    uint64_t length = 0;
  };

  PcmLayout() = default;
  PcmLayout(const std::vector<Moov::ChunkPlace>& reference, uint32_t frameBytes);

  // The sound of a region between two video chunks. A region that fits none of the reference's
  // layouts is taken with the most common one; its sound may then end in part of a frame.
  std::optional<Sound> between(uint64_t regionBytes) const;
  // Whether a region between two video chunks fits one of the reference's layouts exactly.
  bool fits(uint64_t regionBytes) const;
  // The sound before the first video chunk: only whole frames, as the region's start is a box
  // header's end rather than anything the sound decides.
  std::optional<Sound> leading(uint64_t regionBytes) const;
  // The sound after the last video chunk, in whole frames: the recording may end inside a chunk.
  std::optional<Sound> trailing(uint64_t regionBytes) const;

 private:
  // Bytes of further tracks before and after the sound; `sound` false for a region without any,
  // whose further tracks' bytes are all `lead`.
  struct Split {
    uint64_t lead = 0;
    uint64_t trail = 0;
    bool sound = true;
    bool operator==(const Split&) const = default;
  };
  std::optional<Sound> exactly(uint64_t regionBytes, bool& noSound) const;

  uint32_t frameBytes_ = 1;
  std::vector<std::pair<Split, size_t>> between_;  // most common first
  Split leading_;
  Split trailing_;
  std::vector<uint64_t> soundSizes_;  // sorted
};

}  // namespace qvr
