#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qvr {

// Tells, without the decoder, that the AAC decoder library will refuse a window, so that the frame
// search can pass over most false frame starts in a damaged region at the cost of a few bit reads
// instead of a decode.
//
// It reads a raw_data_block as the decoder reads it (same fields, same order, bits past the window
// read as zeros) up to the scale factors of the first channel element, and calls a window refused
// only where the decoder stops with an error before it has changed anything a later window depends
// on. What the decoder does remember from such a window is the id of the first channel element of
// its stream (and, with it, the channel count of that element); `examine` takes that id as the
// caller has tracked it, because a window whose first element differs from it is refused for that
// alone. The modelled behaviour is that of the 2.10 library series; `forConfiguration` gives none
// for other versions and for configurations it does not model, and every window is then decoded.
class AacFramePrecheck {
 public:
  // Syntax element ids of a raw data block.
  enum : int { kSce = 0, kCpe = 1, kCce = 2, kLfe = 3, kDse = 4, kPce = 5, kFil = 6, kEnd = 7 };
  // What a decoder handle remembers as its first channel element before it has seen one.
  static constexpr int kNoneYet = 255;
  // The caller does not know what the handle remembers.
  static constexpr int kUnknown = -1;
  // A fresh handle closed after this one window: what it comes to remember does not matter, so the
  // first channel element it meets is read as far as for a handle that remembers that element.
  static constexpr int kFresh = -2;

  // For the two AudioSpecificConfig bytes the search decodes with: AAC LC at a standard sampling
  // rate with channel layout 1 to 7. None otherwise, or when the linked library is another series.
  static std::optional<AacFramePrecheck> forConfiguration(const uint8_t config[2]);

  struct Verdict {
    // The decoder refuses the window and keeps nothing from it that a later window depends on.
    bool refused = false;
    // The first channel element (kSce, kCpe or kLfe) the decoder reaches in the window, kNoneYet
    // when it stops before any.
    int reached = kNoneYet;
  };

  // `remembered` is the handle's first channel element (kNoneYet, kSce, kCpe, kLfe, kUnknown or
  // kFresh; for kFresh, `refused` says only that the decoder stops with an error).
  // `expectedFirst` is the element a real frame opens with: a window that opens with it and trips
  // over a different remembered element is not refused here, since the search answers that with a
  // fresh decoder.
  Verdict examine(const uint8_t* window, size_t length, int remembered, int expectedFirst) const;

  // The part of `examine` that looks at the first byte only, for a handle that remembers an element.
  static bool refusedByFirstByte(uint8_t first, int remembered, int expectedFirst) {
    const int id = first >> 5;
    if (id == kCce || id == kEnd) return true;
    const bool channelElement = id == kSce || id == kCpe || id == kLfe;
    return channelElement && id != remembered && expectedFirst >= 0 && id != expectedFirst;
  }

 private:
  AacFramePrecheck(int samplingIndex, bool shortFrames) : samplingIndex_(samplingIndex), shortFrames_(shortFrames) {}

  int samplingIndex_;
  bool shortFrames_;  // 960-sample frames
};

}  // namespace qvr
