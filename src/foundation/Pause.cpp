#include "foundation/Pause.h"

#include <thread>

namespace qvr {

bool waitWhilePaused(const std::atomic<bool>& pause, const std::atomic<bool>& stop,
                     std::chrono::milliseconds interval) {
  while (pause.load(std::memory_order_relaxed)) {
    if (stop.load(std::memory_order_relaxed)) return false;
    std::this_thread::sleep_for(interval);
  }
  return !stop.load(std::memory_order_relaxed);
}

}  // namespace qvr
