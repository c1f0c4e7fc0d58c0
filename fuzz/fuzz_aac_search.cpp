// libs: qvr_repair qvr_boxes qvr_bitstream qvr_foundation
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "FuzzSupport.h"
#include "foundation/FileHandle.h"
#include "repair/AacFrameSearch.h"

// The AAC region search over the fuzzer's bytes with a real AAC-LC configuration (48 kHz
// stereo), once whole and once in small slices so that the slice overlap is exercised; the first
// byte also picks a second, mono 44.1 kHz configuration for the single-frame test. For one input
// in eight (decoding every window is slow) the first byte also picks a configuration under which,
// over the first KiB, every window passed over as refused must be one the decoder refuses, and
// passing over them must find the frames that decoding every window (as the check does) finds, and
// the single-frame test may refuse only what the decoder refuses.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<uint8_t> stereo48k = {0x11, 0x90};
  static const std::vector<uint8_t> mono44k = {0x12, 0x08};
  const size_t n = size < (16u << 10) ? size : (16u << 10);
  const std::string path = qvr::fuzz::scratchPath("region.bin");
  qvr::fuzz::writeWhole(path, data, n);
  auto handle = qvr::ReadHandle::open(path);
  if (!handle) return 0;
  std::atomic<bool> pause{false}, stop{false};
  qvr::AacFrameSearch whole(stereo48k, pause, stop);
  auto a = whole.search(*handle, 0, n);
  qvr::AacFrameSearch sliced(stereo48k, pause, stop, 3000);
  auto b = sliced.search(*handle, n / 3, n - n / 3);
  (void)a;
  (void)b;
  if (n > 0) {
    (void)qvr::AacFrameSearch::decodesFrameAt((data[0] & 1) ? mono44k : stereo48k, data + 1, n - 1);
    // Regions that run past the end of the file.
    (void)whole.search(*handle, n - 1, 5000);

    if ((data[0] & 7) != 0) return 0;
    static const std::vector<std::vector<uint8_t>> configs = {{0x11, 0x90}, {0x12, 0x08}, {0x11, 0x94},
                                                              {0x15, 0x88}, {0x11, 0xb0}, {0x13, 0x98}};
    const auto& config = configs[(data[0] >> 3) % configs.size()];
    const size_t checked = n < 1024 ? n : 1024;
    using Search = qvr::AacFrameSearch;
    Search verify(config, pause, stop, Search::kDefaultSliceLength, Search::Precheck::kVerify);
    Search passOver(config, pause, stop, Search::kDefaultSliceLength, Search::Precheck::kOn);
    auto all = verify.search(*handle, 0, checked);
    if (verify.mispredictions() != 0) std::abort();
    uint64_t wrong = 0;
    (void)Search::decodesFrameAt(config, data + 1, n - 1, Search::Precheck::kVerify, &wrong);
    if (wrong != 0) std::abort();
    auto passed = passOver.search(*handle, 0, checked);
    if (!all || !passed || all->size() != passed->size()) std::abort();
    for (size_t i = 0; i < all->size(); ++i) {
      if ((*all)[i].offset != (*passed)[i].offset || (*all)[i].size != (*passed)[i].size) std::abort();
    }
  }
  return 0;
}
