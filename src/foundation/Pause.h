#pragma once

#include <atomic>
#include <chrono>

namespace qvr {

// The pause point the engines share: while `pause` is set, sleep `interval` at a time and test
// again. Returns false when `stop` is (or becomes) set, so the caller can wind down.
bool pausePoint(const std::atomic<bool>& pause, const std::atomic<bool>& stop,
                std::chrono::milliseconds interval = std::chrono::seconds(1));

}  // namespace qvr
