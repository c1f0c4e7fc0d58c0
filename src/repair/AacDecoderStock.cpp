#include "repair/AacDecoderStock.h"

#include <neaacdec.h>

#include <algorithm>
#include <cstring>

namespace qvr {

AacDecoderStock::AacDecoderStock(const std::vector<uint8_t>& config, size_t ahead)
    : ahead_(std::max<size_t>(ahead, 1)) {
  std::memcpy(config_, config.data(), std::min(config.size(), sizeof config_));
  maker_ = std::thread([this] { work(); });
}

AacDecoderStock::~AacDecoderStock() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  maker_.join();
  for (void* handle : ready_) NeAACDecClose(static_cast<NeAACDecHandle>(handle));
}

void* AacDecoderStock::make(const unsigned char config[2]) {
  NeAACDecHandle handle = NeAACDecOpen();
  if (handle == nullptr) return nullptr;
  // Only whether a window decodes, and how far, is wanted: samples as floats spare the rounding
  // and clipping of every sample, which the library does after it has read the frame.
  NeAACDecConfigurationPtr settings = NeAACDecGetCurrentConfiguration(handle);
  settings->outputFormat = FAAD_FMT_FLOAT;
  NeAACDecSetConfiguration(handle, settings);
  unsigned char bytes[2] = {config[0], config[1]};
  unsigned long sampleRate = 0;
  unsigned char channels = 0;
  if (NeAACDecInit2(handle, bytes, sizeof bytes, &sampleRate, &channels) != 0) {
    NeAACDecClose(handle);
    return nullptr;
  }
  return handle;
}

void* AacDecoderStock::take() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_.empty()) {
      void* handle = ready_.back();
      ready_.pop_back();
      changed_.notify_all();
      return handle;
    }
  }
  changed_.notify_all();
  return make(config_);
}

void AacDecoderStock::work() {
  while (true) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return closing_ || ready_.size() < ahead_; });
      if (closing_) return;
    }
    // A configuration the decoder refuses (or a decoder that cannot be had) stops the stock: take()
    // then meets the same on its own thread.
    void* handle = make(config_);
    if (handle == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.push_back(handle);
  }
}

}  // namespace qvr
