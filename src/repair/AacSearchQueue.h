#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "repair/AacFrameSearch.h"

namespace qvr {

// Runs the AAC frame searches of a scan on worker threads, so that the scan goes on looking for
// video while the regions behind it are searched. Every search opens its own decoder, so a region's
// frames do not depend on when or where it is searched; the scan takes the results in the order it
// submitted them.
class AacSearchQueue {
 public:
  AacSearchQueue(std::string path, std::vector<uint8_t> config, const std::atomic<bool>& pause,
                 const std::atomic<bool>& stop, unsigned workers, std::vector<MetadataSignature> metadata = {});
  // Searches not yet started are dropped; running ones end (at once when the job is stopped).
  ~AacSearchQueue();
  AacSearchQueue(const AacSearchQueue&) = delete;
  AacSearchQueue& operator=(const AacSearchQueue&) = delete;

  // Queues the search of [offset, offset + size) and returns its ticket. `opening` is handed to
  // the search (see AacFrameSearch::search).
  size_t submit(uint64_t offset, uint64_t size, DecodedWindow opening = {});
  bool ready(size_t ticket);
  // The frames of a ticket's region (none when the job was stopped), waiting for them if needed.
  // Each ticket is taken once.
  std::optional<std::vector<AacFrame>> take(size_t ticket);

  // Runs queued searches of at most `largest` bytes on the calling thread while more than `waiting`
  // have not started: a scan far ahead of the searches lends them its thread.
  void helpWhileMoreThan(size_t waiting, uint64_t largest);

  // Worker threads worth running beside the scan on this machine.
  static unsigned defaultWorkers();

 private:
  struct Task {
    uint64_t offset = 0;
    uint64_t size = 0;
    bool done = false;
    bool taken = false;
    bool stopped = false;  // the job was stopped during the search
    std::vector<AacFrame> frames;
    DecodedWindow opening;
  };

  struct Started {
    size_t ticket = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    DecodedWindow opening;
  };
  void work();
  // The next task to start (called with the mutex held), and its search.
  Started start();
  void run(ReadHandle* handle, Started task);

  const std::string path_;
  const std::vector<uint8_t> config_;
  const std::vector<MetadataSignature> metadata_;
  const std::atomic<bool>& pause_;
  const std::atomic<bool>& stop_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Task> tasks_;  // by ticket - firstTicket_
  size_t firstTicket_ = 0;
  size_t nextToStart_ = 0;  // ticket
  bool closing_ = false;
  std::vector<std::thread> workers_;
  std::unique_ptr<ReadHandle> helperHandle_;  // for the searches run by helpWhileMoreThan()
};

}  // namespace qvr
