#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

#include "repair/MetadataSignature.h"

namespace qvr {

class ReadHandle;
class AacDecoderStock;

// One raw AAC frame found in a region of the damaged file.
struct AacFrame {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Finds raw AAC frames in a region by trial decoding with the reference's AudioSpecificConfig.
// Every position whose first byte is not zero is offered to the decoder as a window of at most
// 1536 bytes; an accepted window is one frame of the length the decoder consumed.
class AacFrameSearch {
 public:
  // A channel's frame may take 6144 bits: loud stereo at a low rate makes frames of more than
  // 1024 bytes, which a shorter window would cut and lose.
  static constexpr size_t kWindowLength = 1536;
  static constexpr size_t kDefaultSliceLength = 8u << 20;

  // `config` are the reference's decoder-specific information bytes (the first two are used).
  // How windows the decoder is known to refuse are treated. kOff decodes every window; kVerify
  // decodes them too and counts those the decoder did not refuse (a test of the prediction).
  enum class Precheck { kOn, kOff, kVerify };

  // `metadata` are the reference's other tracks' chunks that can be recognised among the sound
  // (see search()).
  AacFrameSearch(std::vector<uint8_t> config, const std::atomic<bool>& pause, const std::atomic<bool>& stop,
                 size_t sliceLength = kDefaultSliceLength, Precheck precheck = Precheck::kOn,
                 std::vector<MetadataSignature> metadata = {});

  // Frames of [offset, offset + size), in offset order; none when stopped during the search.
  // A large region is read in slices of `sliceLength` bytes (plus one window of overlap), which
  // finds the same frames as reading it whole.
  // Where the region holds chunks that match a metadata signature, no frame takes in their bytes,
  // and a frame is believed only when it lies exactly next to something: the region's ends, such
  // a chunk or the frame before it.
  std::optional<std::vector<AacFrame>> search(ReadHandle& handle, uint64_t offset, uint64_t size);

  // True when a fresh decoder takes the window at `bytes` (at most 1024 bytes are offered) for
  // one frame: the test that a video chunk is followed by audio. Windows the decoder is known to
  // refuse are answered without it, as `precheck` says; kVerify adds the refusals the decoder
  // contradicted to `mispredictions`.
  // The decoder comes from `stock` where one is given (it must hold the same configuration).
  static bool decodesFrameAt(const std::vector<uint8_t>& config, const uint8_t* bytes, size_t length,
                             Precheck precheck = Precheck::kOn, uint64_t* mispredictions = nullptr,
                             AacDecoderStock* stock = nullptr);

  // Whether a window is offered to the decoder at all: not when it opens with a zero byte, unless
  // the configuration's frames may (mono and multichannel layouts) and the next byte is not zero.
  static bool mayOpenFrame(const uint8_t* window, size_t length, bool zeroOpensFrames);
  static bool zeroMayOpenFrames(const unsigned char config[2]);

  // Decode calls made so far, windows passed over as refused, and (kVerify) refusals the decoder
  // contradicted (diagnostics and tests).
  uint64_t decodeCalls() const { return decodeCalls_; }
  uint64_t windowsRefused() const { return windowsRefused_; }
  uint64_t mispredictions() const { return mispredictions_; }

 private:
  std::vector<uint8_t> config_;
  const std::atomic<bool>& pause_;
  const std::atomic<bool>& stop_;
  size_t sliceLength_;
  Precheck precheck_;
  std::vector<MetadataSignature> metadata_;
  uint64_t decodeCalls_ = 0;
  uint64_t windowsRefused_ = 0;
  uint64_t mispredictions_ = 0;
};

}  // namespace qvr
