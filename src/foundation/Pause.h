#pragma once

#include <atomic>
#include <chrono>

namespace qvr {

bool waitWhilePaused(const std::atomic<bool>& pause, const std::atomic<bool>& stop, std::chrono::milliseconds interval);

// The pause point the engines share: while `pause` is set, sleep `interval` at a time and test
// again. Returns false when `stop` is (or becomes) set, so the caller can wind down. Inline, since
// the scans pass one at every byte offset they try.
inline bool pausePoint(const std::atomic<bool>& pause, const std::atomic<bool>& stop,
                       std::chrono::milliseconds interval = std::chrono::seconds(1)) {
  if (!pause.load(std::memory_order_relaxed)) return !stop.load(std::memory_order_relaxed);
  return waitWhilePaused(pause, stop, interval);
}

}  // namespace qvr
