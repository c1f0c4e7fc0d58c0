#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace qvr {

// Decoders opened and configured ahead of need on a thread of their own, each handed out once and
// never used before: the single-frame test wants a fresh decoder, and configuring one (its filter
// bank's tables) costs as much as the decode it is made for, on the thread that waits for the answer.
class AacDecoderStock {
 public:
  // `config` are the AudioSpecificConfig bytes the decoders are configured with (two are given, a
  // shorter record zero-padded); `ahead` decoders are kept ready.
  explicit AacDecoderStock(const std::vector<uint8_t>& config, size_t ahead = 4);
  ~AacDecoderStock();
  AacDecoderStock(const AacDecoderStock&) = delete;
  AacDecoderStock& operator=(const AacDecoderStock&) = delete;

  // A configured decoder handle (NeAACDecHandle) that nothing has decoded with, made here when none
  // is ready; the caller closes it. Null when the configuration is refused or none can be made.
  void* take();

  // What take() does when there is no stock: a fresh decoder with these two configuration bytes,
  // giving its samples as floats.
  static void* make(const unsigned char config[2]);

 private:
  void work();
  unsigned char config_[2] = {0, 0};
  size_t ahead_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<void*> ready_;
  bool closing_ = false;
  std::thread maker_;
};

}  // namespace qvr
