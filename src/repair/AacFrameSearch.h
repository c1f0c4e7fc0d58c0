#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <utility>
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

// A fresh decoder that has taken the window at `offset` for a frame of `consumed` bytes, as the
// test that a video chunk is followed by audio leaves it. A search of a region opening there goes
// on with it instead of decoding that window again: the decoder reads only the bits of the frame,
// so a window holding the same frame gives the same answer and leaves the same decoder, however
// far past the frame either window reaches.
class DecodedWindow {
 public:
  DecodedWindow() = default;
  DecodedWindow(void* handle, uint64_t offset, uint64_t consumed)
      : handle_(handle), offset_(offset), consumed_(consumed) {}
  ~DecodedWindow() { close(); }
  DecodedWindow(DecodedWindow&& other) noexcept { *this = std::move(other); }
  DecodedWindow& operator=(DecodedWindow&& other) noexcept;

  explicit operator bool() const { return handle_ != nullptr; }
  uint64_t offset() const { return offset_; }
  uint64_t consumed() const { return consumed_; }
  // The decoder handle (NeAACDecHandle), which the caller now closes.
  void* release();

 private:
  void close();
  void* handle_ = nullptr;
  uint64_t offset_ = 0;
  uint64_t consumed_ = 0;
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
  // `opening`, where it was decoded at `offset`, stands in for the decode of the region's first
  // window when that window holds its whole frame.
  std::optional<std::vector<AacFrame>> search(ReadHandle& handle, uint64_t offset, uint64_t size,
                                              DecodedWindow opening = {});

  // True when a fresh decoder takes the window at `bytes` (at most kWindowLength bytes are
  // offered) for one frame: the test that a video chunk is followed by audio. Windows the decoder
  // is known to refuse are answered without it, as `precheck` says; kVerify adds the refusals the
  // decoder contradicted to `mispredictions`.
  // The decoder comes from `stock` where one is given (it must hold the same configuration). With
  // `keep`, a decoder that took the window for a frame is kept there (as decoded at `offset`).
  static bool decodesFrameAt(const std::vector<uint8_t>& config, const uint8_t* bytes, size_t length,
                             Precheck precheck = Precheck::kOn, uint64_t* mispredictions = nullptr,
                             AacDecoderStock* stock = nullptr, DecodedWindow* keep = nullptr, uint64_t offset = 0);

  // Whether a window is offered to the decoder at all: not when it opens with a zero byte, unless
  // the configuration's frames may (mono and multichannel layouts) and the next byte is not zero.
  static bool mayOpenFrame(const uint8_t* window, size_t length, bool zeroOpensFrames) {
    if (length == 0) return false;
    if (window[0] != 0) return true;
    // A single channel element opening with a zero byte has a global gain below 128, which shows
    // in the second byte unless it is 0; in a run of zeros the frame could only begin at its end.
    return zeroOpensFrames && length >= 2 && window[1] != 0;
  }
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
