#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "foundation/Error.h"

namespace qvr::azs {

// A source of bytes read front to back, as the stream upload consumes it.
class InputStream {
 public:
  virtual ~InputStream() = default;
  // Up to `capacity` bytes into `buffer`: the count read, 0 at the end, or -1 on failure (see streamError).
  virtual long read(uint8_t* buffer, size_t capacity) = 0;
  virtual std::optional<qvr::Error> streamError() const { return std::nullopt; }
  virtual void close() {}
};

class MemoryInputStream : public InputStream {
 public:
  explicit MemoryInputStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  explicit MemoryInputStream(const std::string& text) : bytes_(text.begin(), text.end()) {}
  long read(uint8_t* buffer, size_t capacity) override {
    size_t n = std::min(capacity, bytes_.size() - position_);
    std::copy_n(bytes_.data() + position_, n, buffer);
    position_ += n;
    return static_cast<long>(n);
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t position_ = 0;
};

// Runs `work` on a new detached thread; when no thread can be had, on this one, so that it always runs.
inline void runInBackground(std::function<void()> work) {
  try {
    std::thread(work).detach();
  } catch (const std::system_error&) {
    work();
  }
}

}  // namespace qvr::azs
